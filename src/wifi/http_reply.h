#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace qb::HttpReply {

// "OK", "Bad Request", "Unauthorized", "Not Found", "Internal Server Error", "Not Implemented",
// and "Status" for any other code.
QString reasonPhrase(int status);

// A complete plain-text reply.
QByteArray text(int status, const QString& body);

// A complete JSON reply, always status 200.
QByteArray json(const QJsonObject& object);

// The head of a file download; the file's bytes follow it unframed.
QByteArray downloadHead(qint64 length, const QString& fileName);

// Percent-encodes every character outside those a URL path allows, per UTF-8 byte.
QString encodeForPath(const QString& name);

} // namespace qb::HttpReply
