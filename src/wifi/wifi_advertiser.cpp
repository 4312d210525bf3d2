#include "wifi/wifi_advertiser.h"

#include "platform/app_paths.h"
#include "platform/host_name.h"
#include "platform/open_file_limit.h"
#include "wifi/connection_hub.h"
#include "wifi/connection_listener.h"
#include "wifi/request_router.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <csignal>
#include <utility>
#include <vector>

namespace qb {

namespace {

// A few phones may finish uploads at once; their flushes share one disk anyway.
std::unique_ptr<QThreadPool> makeCommitPool()
{
    auto pool = std::make_unique<QThreadPool>();
    pool->setMaxThreadCount(2);
    return pool;
}

// The commit pools of stopped servers whose uploads were still being written; kept to the end,
// as destroying one waits for its work.
QList<QThreadPool*>& abandonedCommitPools()
{
    static auto* pools = new QList<QThreadPool*>; // never destroyed: it outlives every static
    return *pools;
}

// The connection threads of stopped servers that were still held in a call; kept to the end, as
// destroying a running thread ends the process.
QList<QThread*>& abandonedConnectionThreads()
{
    static auto* threads = new QList<QThread*>; // never destroyed: it outlives every static
    return *threads;
}

// What such threads may still call; held here, never freed, for the same reason.
template <typename T> void keepToTheEnd(std::unique_ptr<T> object)
{
    static auto* kept = new std::vector<std::shared_ptr<void>>; // outlives every static
    kept->push_back(std::shared_ptr<void>(std::move(object)));
}

} // namespace

WiFiAdvertiser::WiFiAdvertiser(WiFiServerBackend& backend,
                               std::unique_ptr<DnsSdPublisher> publisher, Options options,
                               QObject* parent)
    : QObject(parent), m_backend(backend), m_publisher(std::move(publisher)),
      m_options(std::move(options)), m_log(QStringLiteral("WiFiAdvertiser"), true),
      m_limiter(std::make_unique<PinAttemptLimiter>(m_options.pinLimits)),
      m_commits(makeCommitPool())
{
    if (!m_options.downloadsFolder) {
        m_options.downloadsFolder = [] {
            return AppPaths::downloadsFolder();
        };
    }
}

WiFiAdvertiser::WiFiAdvertiser(WiFiServerBackend& backend,
                               std::unique_ptr<DnsSdPublisher> publisher, QObject* parent)
    : WiFiAdvertiser(backend, std::move(publisher), Options{}, parent)
{}

WiFiAdvertiser::~WiFiAdvertiser()
{
    stop();
}

bool WiFiAdvertiser::commitsLeftRunning()
{
    const QList<QThreadPool*>& pools = abandonedCommitPools();
    return std::any_of(pools.cbegin(), pools.cend(),
                       [](const QThreadPool* pool) { return pool->activeThreadCount() > 0; });
}

bool WiFiAdvertiser::connectionsLeftRunning()
{
    const QList<QThread*>& threads = abandonedConnectionThreads();
    return std::any_of(threads.cbegin(), threads.cend(),
                       [](const QThread* thread) { return thread->isRunning(); });
}

QString WiFiAdvertiser::machineName()
{
    const QString name = localizedHostName();
    return name.isEmpty() ? QStringLiteral("Quillbay") : name;
}

void WiFiAdvertiser::ignoreBrokenPipes()
{
    // sendfile() has no MSG_NOSIGNAL: a phone that goes away mid-download would otherwise end
    // the whole process with SIGPIPE. A disposition the application chose is left alone.
    struct sigaction current
    {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        struct sigaction ignore
        {};
        ignore.sa_handler = SIG_IGN;
        ::sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, nullptr);
    }
}

void WiFiAdvertiser::start()
{
    if (m_running) {
        return;
    }
    ignoreBrokenPipes();
    QString error;
    const int fd = ConnectionListener::openSocket(&error);
    if (fd < 0) {
        m_log.error(QStringLiteral("Failed to start TCP listener: %1"), {error});
        return;
    }
    m_serviceName = m_options.serviceName.isEmpty() ? machineName() : m_options.serviceName;
    m_router = std::make_unique<RequestRouter>(m_backend, *m_limiter, m_serviceName);

    ConnectionEnvironment environment;
    environment.backend = &m_backend;
    environment.router = m_router.get();
    environment.downloadsFolder = m_options.downloadsFolder;
    environment.idleTimeoutMs = m_options.idleTimeoutMs;
    environment.headTimeoutMs = m_options.headTimeoutMs;
    environment.bodyRateWindowMs = m_options.bodyRateWindowMs;
    environment.minBodyBytesPerWindow = m_options.minBodyBytesPerWindow;
    environment.drainTimeoutMs = m_options.drainTimeoutMs;
    environment.commits = m_commits.get();

    // Taken at each start: the application raises the limit before it starts the server.
    const qint64 fileLimit = openFileLimits().soft;
    const ConnectionCounter::Bound bound =
        ConnectionCounter::boundFor(fileLimit, m_options.maxConnections);
    m_log.info(QStringLiteral("Serving at most %1 connections at once (open-file limit %2)"),
               {QString::number(bound.connections), QString::number(fileLimit)});
    m_connections = std::make_shared<ConnectionCounter>(bound);
    for (int i = 0; i < std::max(1, m_options.workerThreads); ++i) {
        auto* thread = new QThread(this);
        thread->setObjectName(QStringLiteral("com.halvorin.quillbay.wifi.connections"));
        auto* hub = new ConnectionHub(environment, m_connections);
        hub->moveToThread(thread);
        connect(thread, &QThread::finished, hub, &QObject::deleteLater);
        thread->start();
        m_workerThreads.append(thread);
        m_hubs.append(hub);
    }
    m_listenerThread = new QThread(this);
    m_listenerThread->setObjectName(QStringLiteral("com.halvorin.quillbay.wifi.listener"));
    auto* listener = new ConnectionListener(fd, m_hubs, m_connections);
    listener->moveToThread(m_listenerThread);
    connect(m_listenerThread, &QThread::finished, listener, &QObject::deleteLater);
    m_listenerThread->start();
    QMetaObject::invokeMethod(listener, &ConnectionListener::start, Qt::QueuedConnection);

    m_running = true;
    m_log.info(QStringLiteral("WiFiAdvertiser starting (service=%1)"), {kServiceType});
    m_port = ConnectionListener::localPort(fd);
    if (m_port) {
        m_log.info(QStringLiteral("WiFiAdvertiser READY on port %1"), {QString::number(*m_port)});
    } else {
        m_log.info(QStringLiteral("WiFiAdvertiser READY (port unknown)"));
    }
    if (m_publisher && m_port) {
        m_publisher->publish(m_serviceName, kServiceType, *m_port,
                             [this](const DnsSdPublisher::Event& event) { onDnsSdEvent(event); });
    } else if (!m_publisher) {
        m_log.info(QStringLiteral("Not advertised by DNS-SD: no publisher"));
    }
}

void WiFiAdvertiser::onDnsSdEvent(const DnsSdPublisher::Event& event)
{
    // On the publisher's thread: log, and hand the name to the GUI thread.
    switch (event.kind) {
    case DnsSdPublisher::Event::Kind::Registered:
        m_log.info(QStringLiteral("Advertised as \"%1\" (%2)"), {event.name, kServiceType});
        QMetaObject::invokeMethod(
            this, [this, name = event.name] { m_serviceName = name; }, Qt::QueuedConnection);
        return;
    case DnsSdPublisher::Event::Kind::Renamed:
        m_log.info(QStringLiteral("Service name in use; trying \"%1\""), {event.name});
        return;
    case DnsSdPublisher::Event::Kind::NotAdvertised:
        m_log.warning(QStringLiteral("Not advertised by DNS-SD: %1"), {event.message});
        return;
    case DnsSdPublisher::Event::Kind::Failed:
        m_log.error(QStringLiteral("DNS-SD advertising failed: %1"), {event.message});
        return;
    }
}

void WiFiAdvertiser::stop()
{
    if (!m_running) {
        return;
    }
    // One clock for every wait below, so that a quit past a stuck disk and a stuck connection
    // still ends in time.
    const QDeadlineTimer commitDeadline(m_options.commitWaitMs);
    const QDeadlineTimer connectionDeadline(m_options.connectionWaitMs);
    // The advertisement goes first, then the listener, then the connections.
    m_publisher.reset();
    m_listenerThread->quit();
    m_listenerThread->wait();
    delete m_listenerThread;
    m_listenerThread = nullptr;
    // An upload being committed is finished: its file is whole and takes its name. A disk that
    // holds a flush up for longer must not keep the quit waiting for ever; the file keeps its
    // temporary name until the flush ends, so it is never partial under its own.
    const auto setCommitsAside = [this] {
        abandonedCommitPools().append(m_commits.release());
        m_commits = makeCommitPool();
    };
    if (!m_commits->waitForDone(int(commitDeadline.remainingTime()))) {
        m_log.warning(QStringLiteral("Received files still being written to disk at shutdown"));
        setCommitsAside();
    }
    if (!endConnectionThreads(connectionDeadline)) {
        m_log.warning(QStringLiteral("A connection still being served at shutdown; left running"));
        // What its connections use stays: the router, the PIN limiter, the commit pool.
        keepToTheEnd(std::move(m_router));
        keepToTheEnd(
            std::exchange(m_limiter, std::make_unique<PinAttemptLimiter>(m_options.pinLimits)));
        setCommitsAside();
    }
    m_router.reset();
    m_running = false;
    m_log.info(QStringLiteral("Listener cancelled"));
}

bool WiFiAdvertiser::endConnectionThreads(QDeadlineTimer deadline)
{
    // Each connection thread first runs what was posted to it, so that a phone whose upload was
    // just committed gets its answer; then its connections end.
    for (ConnectionHub* hub : std::as_const(m_hubs)) {
        QMetaObject::invokeMethod(
            hub, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
    }
    m_hubs.clear();
    bool allEnded = true;
    for (QThread* thread : std::as_const(m_workerThreads)) {
        if (thread->wait(deadline)) {
            delete thread;
            continue;
        }
        // Held in a call that does not return (a file that never opens, say). Its hub goes when
        // the thread ends, if it ever does.
        allEnded = false;
        thread->setParent(nullptr);
        abandonedConnectionThreads().append(thread);
    }
    m_workerThreads.clear();
    return allEnded;
}

} // namespace qb
