#pragma once

#include "support/test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace qb::test {

// For a phone's thread, which must not run the GUI thread's events: polls `condition` until it
// holds; false after `limitMs`.
inline bool pollUntil(const std::function<bool()>& condition, int limitMs = 20'000)
{
    QDeadlineTimer deadline(limitMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
    return true;
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
    waitUntil([&] { return finished.load(); }, 120'000);
    phone.join();
    QCoreApplication::processEvents();
    return result;
}

// A blocking TCP client bound to a chosen loop-back source address.
class RawClient
{
public:
    RawClient(quint16 port, const char* source = "127.0.0.1")
    {
        const bool v6 = QByteArray(source).contains(':');
        m_fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        const timeval limit{20, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        // Each send() leaves as a segment of its own, so a request can arrive in pieces.
        const int noDelay = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        if (v6) {
            sockaddr_in6 address{};
            address.sin6_family = AF_INET6;
            address.sin6_port = htons(port);
            ::inet_pton(AF_INET6, source, &address.sin6_addr);
            m_connected =
                ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            return;
        }
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &local.sin_addr);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(m_fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    bool send(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t sent =
                ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            done += sent;
        }
        return true;
    }
    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }
    // Up to `limit` bytes, fewer when the server closes first.
    QByteArray read(qint64 limit = std::numeric_limits<qint64>::max())
    {
        QByteArray bytes;
        char buffer[65536];
        while (bytes.size() < limit) {
            const ssize_t got = ::recv(
                m_fd, buffer, size_t(std::min<qint64>(sizeof buffer, limit - bytes.size())), 0);
            if (got <= 0) {
                m_ended = true;
                break;
            }
            bytes.append(buffer, got);
        }
        return bytes;
    }
    // Whether the server ended the connection (orderly or by reset).
    bool ended() const { return m_ended; }

private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_ended = false;
};

} // namespace qb::test
