#pragma once

#include "platform/logger.h"
#include "wifi/pin_attempt_limiter.h"
#include "wifi/wifi_server_backend.h"

#include <QByteArray>
#include <QJsonObject>

#include <functional>

namespace qb {

// The connection side of a route: where its one reply goes.
class RouteResponder
{
public:
    virtual ~RouteResponder() = default;
    virtual void sendText(int status, const QString& text) = 0;
    virtual void sendJSON(const QJsonObject& object) = 0;
    // Answers from the GUI thread are delivered to this object's thread, and dropped once it
    // is gone.
    virtual QObject* context() = 0;
};

// Chooses a route by method and path, and runs the routes that need no file: pairing,
// reconnecting, status, the refused "/control" channel and the "/pending" list.
class RequestRouter
{
public:
    enum class Route { Pair, Reconnect, Status, Control, Upload, Pending, Download, NotFound };

    // `clockMs` times the PIN lock-out: milliseconds of a monotonic clock (the default).
    RequestRouter(WiFiServerBackend& backend, PinAttemptLimiter& limiter, QString statusName,
                  std::function<qint64()> clockMs = {});

    // First match in order; the method compares exactly, the path with its query.
    static Route routeFor(const QString& method, const QString& path);

    // Records the sender (posted, never awaited) and logs the request. A reconnect's `body`
    // names the phone it stands for by its token.
    void recordRequest(const QString& method, const QString& path, const QString& host,
                       const std::optional<QString>& deviceName,
                       const QByteArray& body = QByteArray()) const;

    // Runs Pair, Reconnect, Status, Control, Pending or NotFound; the file routes belong to
    // the connection.
    void handle(Route route, const QString& host, const QByteArray& body,
                RouteResponder& responder);

    void handlePair(const QString& host, const QByteArray& body, RouteResponder& responder);
    void handleReconnect(const QString& host, const QByteArray& body, RouteResponder& responder);
    void handlePending(const QString& host, RouteResponder& responder);

private:
    WiFiServerBackend& m_backend;
    PinAttemptLimiter& m_limiter;
    QString m_statusName;
    std::function<qint64()> m_clockMs;
    Logger m_log;
};

} // namespace qb
