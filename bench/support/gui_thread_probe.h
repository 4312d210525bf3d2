#pragma once

#include "wifi/registry_server_backend.h"
#include "wifi/wifi_advertiser.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <ctime>

namespace qb::bench {

// CPU time of the calling thread, in milliseconds: its own work, not its waits.
inline double threadCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Nanoseconds the calling thread has so far spent waiting for a CPU (the scheduler's count).
inline qint64 runQueueWaitNs()
{
    QFile stat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    return stat.readAll().split(' ').value(1).toLongLong();
}

// A 1 ms timer on the thread that starts it (the GUI thread): the longest gap between its ticks
// is that thread's longest busy stretch.
class GuiThreadProbe
{
public:
    GuiThreadProbe()
    {
        m_clock.start();
        m_lastTick = m_clock.nsecsElapsed();
        m_lastCpu = threadCpuMs();
        m_lastWait = runQueueWaitNs();
        m_ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const double cpu = threadCpuMs();
            const qint64 wait = runQueueWaitNs();
            m_longest = std::max(m_longest, now - m_lastTick);
            m_longestAwake = std::max(m_longestAwake, now - m_lastTick - (wait - m_lastWait));
            m_longestCpu = std::max(m_longestCpu, cpu - m_lastCpu);
            m_lastTick = now;
            m_lastCpu = cpu;
            m_lastWait = wait;
        });
        m_ticker.start(1);
    }
    void stop() { m_ticker.stop(); }

    const QElapsedTimer& clock() const { return m_clock; }
    // The longest wall time between two turns of the thread's event loop, past the tick itself.
    double longestGapMs() const { return double(m_longest) / 1e6 - 1.0; }
    // The same without the time it waited for a CPU: its own work and whatever it waited for.
    double longestAwakeGapMs() const { return double(m_longestAwake) / 1e6 - 1.0; }
    // The most CPU time it spent between two turns.
    double longestCpuMs() const { return m_longestCpu; }

private:
    QElapsedTimer m_clock;
    QTimer m_ticker;
    qint64 m_lastTick = 0;
    double m_lastCpu = 0;
    qint64 m_lastWait = 0;
    qint64 m_longest = 0;
    qint64 m_longestAwake = 0;
    double m_longestCpu = 0;
};

// The real server over the registries, saving uploads into `downloads`, started.
struct RegistryServer
{
    RegistryServer(WiFiPeerRegistry& peers, PendingOutgoingFilesRegistry& outgoing,
                   ReceivedFilesRegistry& received, SentFilesRegistry& sent,
                   const QString& downloads)
        : backend(peers, outgoing, received, sent), server(backend, nullptr, [downloads] {
              WiFiAdvertiser::Options options;
              options.serviceName = QStringLiteral("Bench");
              options.downloadsFolder = [downloads] {
                  return downloads;
              };
              return options;
          }())
    {
        server.start();
    }
    quint16 port() const { return server.port().value_or(0); }

    RegistryServerBackend backend;
    WiFiAdvertiser server;
};

} // namespace qb::bench
