#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

namespace qb {

// The open connections of one server, in all and per host, so that one host cannot take every
// connection. Any thread.
class ConnectionCounter
{
public:
    static constexpr int kMaxPerHost = 64;

    explicit ConnectionCounter(int maxConnections) : m_max(maxConnections) {}

    // Counts a new connection from `host`; false (nothing counted) when the server or the host
    // is full. The computer itself is held only to the server's cap: local tools are trusted.
    bool admit(const QString& host)
    {
        QMutexLocker lock(&m_mutex);
        if (m_open >= m_max)
            return false;
        if (!isLocalMachine(host)) {
            int& count = m_perHost[host];
            if (count >= kMaxPerHost)
                return false;
            ++count;
        }
        ++m_open;
        return true;
    }

    void release(const QString& host)
    {
        QMutexLocker lock(&m_mutex);
        --m_open;
        if (isLocalMachine(host))
            return;
        const auto found = m_perHost.find(host);
        if (found != m_perHost.end() && --*found <= 0)
            m_perHost.erase(found);
    }

    int open() const
    {
        QMutexLocker lock(&m_mutex);
        return m_open;
    }

private:
    static bool isLocalMachine(const QString& host)
    {
        return host == u"127.0.0.1" || host == u"::1";
    }

    mutable QMutex m_mutex;
    const int m_max;
    int m_open = 0;
    QHash<QString, int> m_perHost;
};

} // namespace qb
