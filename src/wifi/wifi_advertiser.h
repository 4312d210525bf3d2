#pragma once

#include "platform/dns_sd_publisher.h"
#include "platform/logger.h"
#include "wifi/connection_counter.h"
#include "wifi/connection_environment.h"
#include "wifi/pin_attempt_limiter.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QThread;
class QThreadPool;

namespace qb {

class ConnectionHub;
class RequestRouter;
class WiFiServerBackend;

// The computer's end of the Wi-Fi link: an HTTP/1.1 server on a port the system picks,
// advertised by DNS-SD, serving each connection on one of a few worker threads. Lives on the
// GUI thread.
class WiFiAdvertiser : public QObject
{
    Q_OBJECT
public:
    static inline const QString kServiceType = QStringLiteral("_lanternpost._tcp");

    struct Options
    {
        // Connections served at once, at most; fewer when the open-file limit leaves room for
        // fewer.
        int maxConnections = 1000;
        int workerThreads = 4;
        int idleTimeoutMs = 30'000;
        int headTimeoutMs = kRequestHeadTimeoutMs;
        int bodyRateWindowMs = kBodyRateWindowMs;
        qint64 minBodyBytesPerWindow = kMinBodyBytesPerWindow;
        int drainTimeoutMs = 2'000;
        // How long stop() waits for received files still being written to disk under their
        // names; a disk slower than that keeps them under their temporary names.
        int commitWaitMs = 10'000;
        // How long stop() waits for its connection threads to end; one held in a call that does
        // not return is left running. Both waits count from the start of stop(), so it waits at
        // most the longer of the two in all.
        int connectionWaitMs = 10'000;
        // Where uploads go (in its "Quillbay" folder); the user's Downloads folder if unset.
        std::function<QString()> downloadsFolder;
        // The advertised name and the "/status" name; the machine's name if empty.
        QString serviceName;
        PinAttemptLimiter::Limits pinLimits;
    };

    // `publisher` may be null: the server then serves without being advertised.
    WiFiAdvertiser(WiFiServerBackend& backend, std::unique_ptr<DnsSdPublisher> publisher,
                   Options options, QObject* parent = nullptr);
    WiFiAdvertiser(WiFiServerBackend& backend, std::unique_ptr<DnsSdPublisher> publisher,
                   QObject* parent = nullptr);
    ~WiFiAdvertiser() override;

    // Opens the listener and starts advertising; does nothing while running.
    void start();
    // Stops accepting, ends every connection and withdraws the advertisement.
    void stop();

    // Whether an upload that a stopped server gave up waiting for is still being written to disk
    // (in this process); it may still use the backend, and the process ends without waiting.
    static bool commitsLeftRunning();
    // Whether a connection thread that a stopped server gave up waiting for is still running (in
    // this process); it may still use the backend, and the process ends without waiting.
    static bool connectionsLeftRunning();

    bool isRunning() const { return m_running; }
    std::optional<quint16> port() const { return m_port; }
    QString serviceType() const { return kServiceType; }
    // The name the service is advertised under (Avahi may have picked an alternative).
    QString serviceName() const { return m_serviceName; }
    int openConnections() const { return m_connections ? m_connections->open() : 0; }
    // How many connections it serves at once, at most.
    int connectionBound() const { return m_connections ? m_connections->bound().connections : 0; }

    // The machine's name, or "Quillbay" when the system gives none.
    static QString machineName();

private:
    static void ignoreBrokenPipes();
    // Waits for the connection threads until `deadline`; false when one was left running.
    bool endConnectionThreads(QDeadlineTimer deadline);
    void onDnsSdEvent(const DnsSdPublisher::Event& event);

    WiFiServerBackend& m_backend;
    std::unique_ptr<DnsSdPublisher> m_publisher;
    Options m_options;
    Logger m_log;
    bool m_running = false;
    std::optional<quint16> m_port;
    QString m_serviceName;
    // On the heap: a connection left running at stop() may still check a PIN with it.
    std::unique_ptr<PinAttemptLimiter> m_limiter;
    std::unique_ptr<RequestRouter> m_router;
    std::shared_ptr<ConnectionCounter> m_connections;
    QThread* m_listenerThread = nullptr;
    QList<QThread*> m_workerThreads;
    QList<ConnectionHub*> m_hubs; // one on each worker thread, until the thread ends
    std::unique_ptr<QThreadPool> m_commits;
};

} // namespace qb
