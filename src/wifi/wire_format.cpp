#include "wifi/wire_format.h"

#include <QJsonValue>

#include <cmath>
#include <limits>

namespace qb::wire {

namespace {

// 2001-01-01 00:00:00 UTC in milliseconds since the Unix epoch.
constexpr qint64 kReferenceEpochMs = 978307200000LL;

} // namespace

double referenceSeconds(const QDateTime& when)
{
    return static_cast<double>(when.toMSecsSinceEpoch() - kReferenceEpochMs) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0) + kReferenceEpochMs,
                                          Qt::UTC);
}

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFromText(const QString& text)
{
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    // fromString() gives the null UUID for bad text; the all-zero text is a real (null) UUID.
    if (id.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

QString urlText(const QUrl& url)
{
    return url.toString(QUrl::FullyEncoded);
}

std::optional<QString> stringField(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<double> numberField(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number))
        return std::nullopt;
    return number;
}

std::optional<qint64> integerField(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    // toInteger() returns its default unless the value is an exact 64-bit integer; two different
    // defaults tell "exact" from "not an integer".
    const qint64 first = value.toInteger(0);
    const qint64 second = value.toInteger(1);
    if (first != second)
        return std::nullopt;
    return first;
}

std::optional<QDateTime> dateField(const QJsonObject& object, const QString& key)
{
    const std::optional<double> seconds = numberField(object, key);
    // Beyond about 285 million years the milliseconds no longer fit; such a date is no date.
    if (!seconds || std::fabs(*seconds) > 9.0e15)
        return std::nullopt;
    return dateFromReferenceSeconds(*seconds);
}

std::optional<QUuid> uuidField(const QJsonObject& object, const QString& key)
{
    const std::optional<QString> text = stringField(object, key);
    if (!text)
        return std::nullopt;
    return uuidFromText(*text);
}

std::optional<QUrl> urlField(const QJsonObject& object, const QString& key)
{
    const std::optional<QString> text = stringField(object, key);
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    return url;
}

} // namespace qb::wire
