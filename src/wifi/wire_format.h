#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace qb::wire {

// Value forms shared by the Wi-Fi link's files and replies. Dates count seconds (floating point)
// from 2001-01-01 00:00:00 UTC; UUIDs are 36 upper-case characters; file URLs are absolute URL
// text.

double referenceSeconds(const QDateTime& when);
QDateTime dateFromReferenceSeconds(double seconds);

QString uuidText(const QUuid& id);
// Exactly the 36-character form, in any letter case; anything else (braces included) is no UUID.
std::optional<QUuid> uuidFromText(const QString& text);

QString urlText(const QUrl& url);

// Typed readers of one key: absent when the key is missing or holds another JSON type.
std::optional<QString> stringField(const QJsonObject& object, const QString& key);
std::optional<double> numberField(const QJsonObject& object, const QString& key);
// A JSON number with an exact 64-bit integer value only.
std::optional<qint64> integerField(const QJsonObject& object, const QString& key);
std::optional<QDateTime> dateField(const QJsonObject& object, const QString& key);
std::optional<QUuid> uuidField(const QJsonObject& object, const QString& key);
std::optional<QUrl> urlField(const QJsonObject& object, const QString& key);

} // namespace qb::wire
