#include "wifi/http_reply.h"

#include <QJsonDocument>

namespace qb::HttpReply {

QString reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return QStringLiteral("OK");
    case 400:
        return QStringLiteral("Bad Request");
    case 401:
        return QStringLiteral("Unauthorized");
    case 404:
        return QStringLiteral("Not Found");
    case 411:
        return QStringLiteral("Length Required");
    case 500:
        return QStringLiteral("Internal Server Error");
    case 501:
        return QStringLiteral("Not Implemented");
    default:
        return QStringLiteral("Status");
    }
}

namespace {

QByteArray withHead(const QByteArray& statusLine, const char* contentType, const QByteArray& body)
{
    QByteArray reply;
    reply.reserve(statusLine.size() + 128 + body.size());
    reply += statusLine;
    reply += "\r\nContent-Type: ";
    reply += contentType;
    reply += "\r\nContent-Length: ";
    reply += QByteArray::number(body.size());
    reply += "\r\nConnection: close\r\n\r\n";
    reply += body;
    return reply;
}

} // namespace

QByteArray text(int status, const QString& body)
{
    const QByteArray statusLine =
        "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status).toUtf8();
    return withHead(statusLine, "text/plain; charset=utf-8", body.toUtf8());
}

QByteArray json(const QJsonObject& object)
{
    return withHead("HTTP/1.1 200 OK", "application/json",
                    QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString encodeForPath(const QString& name)
{
    // Letters, digits and "-._~" stay by default; these are the other characters a path allows.
    return QString::fromLatin1(name.toUtf8().toPercentEncoding("!$&'()*+,/:=@"));
}

QByteArray downloadHead(qint64 length, const QString& fileName)
{
    QByteArray head =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: ";
    head += QByteArray::number(length);
    head += "\r\nX-File-Name: ";
    head += encodeForPath(fileName).toLatin1();
    head += "\r\nConnection: close\r\n\r\n";
    return head;
}

} // namespace qb::HttpReply
