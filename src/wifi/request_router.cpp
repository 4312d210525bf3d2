#include "wifi/request_router.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

namespace qb {
namespace {

// The string value of `key` in a JSON object body; nothing for anything else.
std::optional<QString> stringField(const QByteArray& body, const QString& key)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonValue value = document.object().value(key);
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

} // namespace

RequestRouter::RequestRouter(WiFiServerBackend& backend, PinAttemptLimiter& limiter,
                             QString statusName, std::function<qint64()> clockMs)
    : m_backend(backend), m_limiter(limiter), m_statusName(std::move(statusName)),
      m_clockMs(clockMs ? std::move(clockMs) : [] { return QDeadlineTimer::current().deadline(); }),
      m_log(QStringLiteral("WiFiAdvertiser.Conn"), true)
{}

RequestRouter::Route RequestRouter::routeFor(const QString& method, const QString& path)
{
    if (method == u"POST" && path == u"/pair") {
        return Route::Pair;
    }
    if (method == u"POST" && path == u"/reconnect") {
        return Route::Reconnect;
    }
    if (method == u"GET" && path == u"/status") {
        return Route::Status;
    }
    if (method == u"GET" && path.startsWith(u"/control")) {
        return Route::Control;
    }
    if (method == u"POST" && path == u"/upload") {
        return Route::Upload;
    }
    if (method == u"GET" && path == u"/pending") {
        return Route::Pending;
    }
    if (method == u"GET" && path.startsWith(u"/download")) {
        return Route::Download;
    }
    return Route::NotFound;
}

void RequestRouter::recordRequest(const QString& method, const QString& path, const QString& host,
                                  const std::optional<QString>& deviceName,
                                  const QByteArray& body) const
{
    m_log.info(QStringLiteral("Peer touch host=%1 name=%2"),
               {host, deviceName.value_or(QStringLiteral("-"))});
    // A reconnect is its token's phone, even from an address another phone's record holds.
    const std::optional<QString> token = routeFor(method, path) == Route::Reconnect
                                             ? stringField(body, QStringLiteral("token"))
                                             : std::nullopt;
    m_backend.touchPeer(host, deviceName, token);
    m_log.info(QStringLiteral("HTTP %1 %2 from %3"), {method, path, host});
}

void RequestRouter::handle(Route route, const QString& host, const QByteArray& body,
                           RouteResponder& responder)
{
    switch (route) {
    case Route::Pair:
        handlePair(host, body, responder);
        return;
    case Route::Reconnect:
        handleReconnect(host, body, responder);
        return;
    case Route::Status:
        responder.sendJSON({{QStringLiteral("ok"), true}, {QStringLiteral("name"), m_statusName}});
        return;
    case Route::Control:
        responder.sendText(501, QStringLiteral("WebSocket /control not implemented"));
        return;
    case Route::Pending:
        handlePending(host, responder);
        return;
    case Route::Upload:
    case Route::Download:
    case Route::NotFound:
        responder.sendText(404, QStringLiteral("Not Found"));
        return;
    }
}

void RequestRouter::handlePair(const QString& host, const QByteArray& body,
                               RouteResponder& responder)
{
    const std::optional<QString> pin = stringField(body, QStringLiteral("pin"));
    if (!pin) {
        responder.sendText(400, QStringLiteral("Missing pin"));
        return;
    }
    qint64 retryAfterMs = 0;
    if (!m_limiter.beginAttempt(host, m_clockMs(), &retryAfterMs)) {
        // Said apart from a wrong PIN, so that the phone can tell its user to wait; the registry
        // is not even asked.
        const qint64 seconds = (retryAfterMs + 999) / 1000;
        m_log.error(QStringLiteral("PIN attempt from %1 refused for %2 s: too many attempts"),
                    {host, QString::number(seconds)});
        responder.sendText(
            401, QStringLiteral("Too many attempts — try again in %1 seconds").arg(seconds));
        return;
    }
    QPointer<QObject> guard(responder.context());
    m_backend.verifyPIN(
        host, *pin, responder.context(),
        [this, host, guard, &responder](std::optional<QString> token) {
            if (token) {
                m_limiter.recordSuccess(host);
                if (guard) {
                    m_log.info(QStringLiteral("PIN OK for %1"), {host});
                    responder.sendJSON({{QStringLiteral("token"), *token}});
                }
                return;
            }
            // A wrong PIN changes nothing of the phones: a pairing made at this address stays.
            if (m_limiter.recordFailure(host, m_clockMs()))
                m_log.warning(QStringLiteral("Too many wrong PINs from %1; pairing is refused for "
                                             "a while"),
                              {host});
            if (guard) {
                m_log.error(QStringLiteral("PIN MISMATCH for %1"), {host});
                responder.sendText(401, QStringLiteral("Incorrect PIN"));
            }
        });
}

void RequestRouter::handleReconnect(const QString& host, const QByteArray& body,
                                    RouteResponder& responder)
{
    const std::optional<QString> token = stringField(body, QStringLiteral("token"));
    if (!token) {
        responder.sendText(400, QStringLiteral("Missing token"));
        return;
    }
    QPointer<QObject> guard(responder.context());
    m_backend.verifyToken(
        host, *token, responder.context(), [this, host, guard, &responder](bool ok) {
            if (!guard) {
                return;
            }
            if (ok) {
                m_log.info(QStringLiteral("Token reconnect OK for %1"), {host});
                responder.sendJSON({{QStringLiteral("ok"), true}});
            } else {
                m_log.error(QStringLiteral("Token mismatch for %1"), {host});
                responder.sendText(401, QStringLiteral("Invalid token — pair again"));
            }
        });
}

void RequestRouter::handlePending(const QString& host, RouteResponder& responder)
{
    QPointer<QObject> guard(responder.context());
    m_backend.listForHost(host, responder.context(),
                          [guard, &responder](const QList<OfferedFile>& offers) {
                              if (!guard) {
                                  return;
                              }
                              QJsonArray files;
                              for (const OfferedFile& offer : offers) {
                                  files.append(QJsonObject{{QStringLiteral("id"), offer.id},
                                                           {QStringLiteral("name"), offer.name},
                                                           {QStringLiteral("size"), offer.size}});
                              }
                              responder.sendJSON({{QStringLiteral("files"), files}});
                          });
}

} // namespace qb
