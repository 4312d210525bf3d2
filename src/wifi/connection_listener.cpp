#include "wifi/connection_listener.h"

#include "platform/local_files.h"
#include "wifi/connection_counter.h"
#include "wifi/connection_hub.h"

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace qb {
namespace {

// Accepts per wake-up, so that the listener thread stays responsive under a flood.
constexpr int kMaxAcceptsPerWakeup = 64;
// Pause after running out of file descriptors, instead of spinning on the ready socket.
constexpr int kResumeAfterMs = 100;
// Pause while a place is about to free for the newcomer held meanwhile, and how long it may be
// held.
constexpr int kEvictionWaitMs = 5;
constexpr int kMaxHoldMs = 1000;

void setOption(int fd, int level, int option)
{
    const int on = 1;
    ::setsockopt(fd, level, option, &on, sizeof on);
}

} // namespace

int ConnectionListener::openSocket(QString* error)
{
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        const int off = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        setOption(fd, SOL_SOCKET, SO_REUSEADDR);
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        // A machine without IPv6 still serves over IPv4.
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            *error = LocalFiles::errnoText(errno);
            return -1;
        }
        setOption(fd, SOL_SOCKET, SO_REUSEADDR);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
            *error = LocalFiles::errnoText(errno);
            ::close(fd);
            return -1;
        }
    }
    if (::listen(fd, SOMAXCONN) != 0) {
        *error = LocalFiles::errnoText(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

std::optional<quint16> ConnectionListener::localPort(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    return std::nullopt;
}

QString ConnectionListener::peerHost(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        return QString::fromLatin1(text);
    }
    if (address.ss_family != AF_INET6) {
        return {};
    }
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
        ::inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
        return QString::fromLatin1(text);
    }
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    QString host = QString::fromLatin1(text);
    char interfaceName[IF_NAMESIZE] = {};
    if (v6->sin6_scope_id != 0 && ::if_indextoname(v6->sin6_scope_id, interfaceName)) {
        host += u'%' + QString::fromLocal8Bit(interfaceName);
    }
    return host;
}

ConnectionListener::ConnectionListener(int fd, QList<ConnectionHub*> hubs,
                                       std::shared_ptr<ConnectionCounter> connections)
    : m_fd(fd), m_hubs(std::move(hubs)), m_connections(std::move(connections)),
      m_log(QStringLiteral("WiFiAdvertiser"), true)
{}

ConnectionListener::~ConnectionListener()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
    }
    if (m_spare >= 0) {
        ::close(m_spare);
    }
    if (m_held >= 0) {
        ::close(m_held);
    }
    ::close(m_fd);
}

void ConnectionListener::start()
{
    // Made here, on the listener's thread, which alone may start and stop them.
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    m_resume = new QTimer(this);
    m_resume->setSingleShot(true);
    connect(m_notifier, &QSocketNotifier::activated, this, &ConnectionListener::acceptPending);
    connect(m_resume, &QTimer::timeout, this, [this] {
        reserveSpare();
        m_notifier->setEnabled(true);
        if (m_held >= 0) {
            acceptPending(); // the queue may be empty: nothing else would wake it
        }
    });
    reserveSpare();
}

void ConnectionListener::reserveSpare()
{
    if (m_spare < 0) {
        m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
}

bool ConnectionListener::refuseOne()
{
    // The spare descriptor makes room for the newcomer just long enough to close it: the phone
    // hears at once that it was refused, instead of waiting in the listen queue for a place that
    // may never come.
    if (m_spare < 0) {
        return false;
    }
    ::close(m_spare);
    m_spare = -1;
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
    }
    reserveSpare();
    return fd >= 0 && m_spare >= 0;
}

void ConnectionListener::pause(int ms)
{
    m_notifier->setEnabled(false);
    m_resume->start(ms);
}

void ConnectionListener::acceptPending()
{
    for (int i = 0; i < kMaxAcceptsPerWakeup; ++i) {
        const int fd = m_held >= 0
                           ? std::exchange(m_held, -1)
                           : ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                const int error = errno;
                if (!m_starved) {
                    m_log.error(QStringLiteral("Cannot accept connections: %1"),
                                {LocalFiles::errnoText(error)});
                    m_starved = true;
                }
                if (error == EMFILE || error == ENFILE) {
                    for (int refused = i; refused < kMaxAcceptsPerWakeup && refuseOne();
                         ++refused) {
                    }
                }
                // Those that come meanwhile wait a moment, instead of the listener spinning on a
                // ready socket it cannot take from.
                pause(kResumeAfterMs);
            }
            return;
        }
        m_starved = false;
        const QString host = peerHost(fd);
        ConnectionHub* hub = m_hubs[m_nextHub];
        const ConnectionCounter::Admission admission = m_connections->admit(host, hub, fd);
        if (!admission.wait) {
            m_holdDeadline = QDeadlineTimer::Forever;
        } else if (!m_holdDeadline.hasExpired()) {
            // It and those behind it wait a moment; a newcomer is refused only once it has waited
            // this long, if the places never free. Until one is free again, those that follow are
            // refused at once, not held a moment each while the queue behind them waits.
            if (m_holdDeadline.isForever())
                m_holdDeadline.setRemainingTime(kMaxHoldMs);
            m_held = fd;
            pause(kEvictionWaitMs);
            return;
        }
        if (!admission.admitted) {
            ::close(fd);
            continue;
        }
        m_nextHub = (m_nextHub + 1) % m_hubs.size();
        if (ConnectionHub* other = admission.evictOn) {
            QMetaObject::invokeMethod(
                other, [other, serial = admission.evictSerial] { other->evict(serial); },
                Qt::QueuedConnection);
        }
        setOption(fd, IPPROTO_TCP, TCP_NODELAY);
        setOption(fd, SOL_SOCKET, SO_KEEPALIVE);
        QMetaObject::invokeMethod(
            hub, [hub, fd, host, serial = admission.serial] { hub->adopt(fd, host, serial); },
            Qt::QueuedConnection);
    }
}

} // namespace qb
