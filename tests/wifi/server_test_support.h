#pragma once

#include "support/test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace qb::test {

// For a phone's thread, which must not run the GUI thread's events: polls `condition` until it
// holds; fails the test and returns false after `limitMs`.
inline bool pollUntil(const std::function<bool()>& condition, int limitMs = 20'000)
{
    QDeadlineTimer deadline(limitMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            ADD_FAILURE() << "still not so after " << limitMs << " ms";
            return false;
        }
        QThread::msleep(1);
    }
    return true;
}

// The body of an HTTP reply.
inline QByteArray bodyOf(const QByteArray& reply)
{
    const qsizetype end = reply.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : reply.mid(end + 4);
}

// Runs `work` on another thread (a phone) while this, the GUI thread, serves posted calls.
template <typename T> T runAsPhone(std::function<T()> work)
{
    std::atomic<bool> finished{false};
    T result{};
    std::thread phone([&] {
        result = work();
        finished = true;
    });
    EXPECT_TRUE(waitUntil([&] { return finished.load(); }, 120'000)) << "the phone is stuck";
    phone.join();
    QCoreApplication::processEvents();
    return result;
}

// A blocking TCP client bound to a chosen loop-back source address.
class RawClient
{
public:
    // A `receiveBuffer` of a few KiB keeps the server from sending far ahead of what is read.
    RawClient(quint16 port, const char* source = "127.0.0.1", int receiveBuffer = 0)
    {
        const bool v6 = QByteArray(source).contains(':');
        m_fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        const timeval limit{20, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        // Each send() leaves as a segment of its own, so a request can arrive in pieces.
        const int noDelay = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        sockaddr_in6 address6{AF_INET6, htons(port), 0, {}, 0};
        sockaddr_in local{AF_INET, 0, {}, {}};
        sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        ::inet_pton(v6 ? AF_INET6 : AF_INET, source,
                    v6 ? static_cast<void*>(&address6.sin6_addr) : &local.sin_addr);
        if (!v6)
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        m_connected =
            v6 ? ::connect(m_fd, reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0
               : ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    bool send(const QByteArray& bytes)
    {
        qsizetype done = 0;
        for (ssize_t sent = 0; done < bytes.size(); done += sent) {
            sent =
                ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
        }
        return true;
    }
    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }
    // Drops the connection with a reset, as a phone that leaves does: the server cannot take
    // it for a half-close.
    void abort()
    {
        const linger reset{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(m_fd);
        m_fd = -1;
    }
    // An ordinary close: to the server, an end of stream as after a half-close.
    void close()
    {
        ::close(m_fd);
        m_fd = -1;
    }
    // Up to `limit` bytes, fewer when the server closes first.
    QByteArray read(qint64 limit = std::numeric_limits<qint64>::max())
    {
        QByteArray bytes;
        char buffer[65536];
        while (bytes.size() < limit) {
            const ssize_t got = ::recv(
                m_fd, buffer, size_t(std::min<qint64>(sizeof buffer, limit - bytes.size())), 0);
            if (got <= 0) {
                m_ended = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                break;
            }
            bytes.append(buffer, got);
        }
        return bytes;
    }
    // Whether the server ended the connection (orderly or by reset), rather than the read timing
    // out.
    bool ended() const { return m_ended; }

private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_ended = false;
};

} // namespace qb::test
