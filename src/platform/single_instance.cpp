#include "platform/single_instance.h"

#include "platform/local_files.h"
#include "platform/logger.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qb {
namespace {

const QByteArray kShowRequest = "show\n";
const QByteArray kShown = "shown\n";
// How long a copy keeps a request connection that does not say what it wants.
constexpr int kRequestTimeoutMs = 5000;
// Between tries while another start has bound the name but does not listen yet.
constexpr int kRetryMs = 20;

Logger instanceLog()
{
    return Logger(QStringLiteral("App"), true);
}

// `folder` with every link resolved, also when it (or folders above it) does not exist yet: the
// part that exists is resolved and the rest appended, so that one folder reached through a link
// and through its own path gives one name, before and after it is made.
QString canonicalFolder(const QString& folder)
{
    QString existing = QDir::cleanPath(QDir(folder).absolutePath());
    QString rest;
    for (;;) {
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        if (!canonical.isEmpty())
            return canonical == QStringLiteral("/")
                       ? u'/' + rest
                       : (rest.isEmpty() ? canonical : canonical + u'/' + rest);
        const qsizetype slash = existing.lastIndexOf(u'/');
        if (slash <= 0)
            return QDir::cleanPath(QDir(folder).absolutePath());
        const QString name = existing.mid(slash + 1);
        rest = rest.isEmpty() ? name : name + u'/' + rest;
        existing = existing.left(slash);
    }
}

// The abstract address of `name`: a NUL, then the name, and exactly as long as that.
socklen_t fillAddress(const QByteArray& name, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::min(size_t(name.size()), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// The process at the other end of the connected socket `fd`; uid -1 when the kernel does not say.
ucred peerOf(int fd)
{
    ucred peer{0, uid_t(-1), gid_t(-1)};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return {0, uid_t(-1), gid_t(-1)};
    return peer;
}

// Whether `path` is a file of this user's that nothing running uses: no lock held on it, or no
// listener behind it.
bool isUnusedOwnFile(const QByteArray& path, mode_t type)
{
    struct stat status
    {};
    if (::lstat(path.constData(), &status) != 0 || (status.st_mode & S_IFMT) != type ||
        status.st_uid != ::geteuid())
        return false;
    if (type == S_IFREG) {
        const OwnedDescriptor file(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        return file.valid() && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const OwnedDescriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    return probe.valid() &&
           ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
               0 &&
           errno == ECONNREFUSED;
}

} // namespace

OwnedDescriptor& OwnedDescriptor::operator=(OwnedDescriptor&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

OwnedDescriptor::~OwnedDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int OwnedDescriptor::release()
{
    return std::exchange(m_fd, -1);
}

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent), m_folder(std::move(folder))
{}

SingleInstance::~SingleInstance()
{
    stopAnswering();
}

QByteArray SingleInstance::socketName(const QString& folder)
{
    const QByteArray path = QFile::encodeName(canonicalFolder(folder));
    return "quillbay/" + QByteArray::number(::geteuid()) + '/' +
           QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex();
}

SingleInstance::Outcome SingleInstance::start(int waitMs)
{
    // Made first, so that the name is the same for every start, before and after.
    LocalFiles::makeFolder(m_folder);
    m_name = socketName(m_folder);
    const QDeadlineTimer deadline(waitMs);
    long long holder = -1;
    for (;;) {
        int error = 0;
        if (bindName(error)) {
            removeEarlierReleaseFiles();
            return Outcome::Running;
        }
        if (error != EADDRINUSE) {
            instanceLog().warning(
                QStringLiteral("Could not take the name of the running copy (%1); not checking "
                               "for another one"),
                {LocalFiles::errnoText(error)});
            return Outcome::Running;
        }
        switch (askRunningCopy(deadline, &holder)) {
        case Ask::Shown:
            instanceLog().info(
                QStringLiteral("Quillbay is already running; asked it to show its window"));
            return Outcome::HandedOver;
        case Ask::Foreign:
            instanceLog().warning(
                QStringLiteral("A process of user %1 holds the name of this user's running copy; "
                               "starting without checking for another one"),
                {LocalFiles::userName(uint(holder))});
            return Outcome::Running;
        case Ask::Silent:
        case Ask::Gone:
            break;
        }
        if (deadline.hasExpired()) {
            instanceLog().warning(
                QStringLiteral("Quillbay is already running (process %1) but does not answer; "
                               "not starting a second copy"),
                {holder > 0 ? QString::number(holder) : QStringLiteral("unknown")});
            return Outcome::NoAnswer;
        }
        QThread::msleep(kRetryMs);
    }
}

bool SingleInstance::bindName(int& error)
{
    // Close-on-exec: a program this copy starts (a mail application, the file manager) must not
    // keep the name once this copy has ended.
    OwnedDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    const socklen_t size = fillAddress(m_name, address);
    if (!listener.valid() ||
        ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        ::listen(listener.get(), 16) != 0) {
        error = errno;
        return false;
    }
    m_listener = std::move(listener);
    m_requests = new QSocketNotifier(m_listener.get(), QSocketNotifier::Read, this);
    connect(m_requests, &QSocketNotifier::activated, this, &SingleInstance::acceptRequests);
    // Quitting, this copy shows no window any more, but keeps the name until its last save is
    // done: a start meanwhile waits for it to end.
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] {
            delete std::exchange(m_requests, nullptr);
            for (QLocalSocket* socket : findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly))
                socket->abort();
        });
    return true;
}

SingleInstance::Ask SingleInstance::askRunningCopy(const QDeadlineTimer& deadline,
                                                   long long* holder)
{
    sockaddr_un address{};
    const socklen_t size = fillAddress(m_name, address);
    const OwnedDescriptor connection(
        ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // Bound but not listening yet (another start that is a moment ahead), or its queue full: the
    // caller tries again.
    if (!connection.valid() ||
        ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0)
        return Ask::Gone;
    // Anyone may bind an abstract name: only a process of this user is this user's copy.
    const ucred peer = peerOf(connection.get());
    *holder = peer.uid == ::geteuid() ? peer.pid : peer.uid;
    if (peer.uid != ::geteuid())
        return Ask::Foreign;
    if (::send(connection.get(), kShowRequest.constData(), size_t(kShowRequest.size()),
               MSG_NOSIGNAL) != kShowRequest.size())
        return Ask::Gone;
    // The running copy answers from its event loop, which may still be busy starting; a copy
    // that is quitting does not answer, and its end closes the connection.
    QByteArray answer;
    while (!answer.contains('\n')) {
        pollfd readable{connection.get(), POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(std::max<qint64>(deadline.remainingTime(), 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Ask::Silent;
        char buffer[64];
        const ssize_t got = ::recv(connection.get(), buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return Ask::Gone;
        answer.append(buffer, got);
    }
    return answer == kShown ? Ask::Shown : Ask::Gone;
}

// An earlier release kept a lock file and a socket file in the data folder. Holding the name,
// this copy needs neither; it removes them only where they are this user's and nothing that runs
// uses them, and never minds when it cannot.
void SingleInstance::removeEarlierReleaseFiles() const
{
    const QString folder = QDir(m_folder).absolutePath();
    for (const auto& [name, type] : {std::pair{"/quillbay.lock", mode_t(S_IFREG)},
                                     std::pair{"/quillbay.socket", mode_t(S_IFSOCK)}}) {
        const QByteArray path = QFile::encodeName(folder + QLatin1String(name));
        if (isUnusedOwnFile(path, type) && ::unlink(path.constData()) == 0)
            instanceLog().info(QStringLiteral("Removed %1, left by an earlier release"),
                               {QFile::decodeName(path)});
    }
}

void SingleInstance::stopAnswering()
{
    delete std::exchange(m_requests, nullptr);
    m_listener = OwnedDescriptor();
}

void SingleInstance::acceptRequests()
{
    for (;;) {
        OwnedDescriptor connection(
            ::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!connection.valid())
            return;
        // Only a start of this copy's user may ask.
        if (peerOf(connection.get()).uid != ::geteuid())
            continue;
        auto* socket = new QLocalSocket(this);
        if (!socket->setSocketDescriptor(connection.get())) {
            delete socket;
            continue;
        }
        connection.release();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kRequestTimeoutMs, socket, &QLocalSocket::abort);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == kShowRequest) {
                instanceLog().info(QStringLiteral("Another start asked to show the window"));
                socket->write(kShown);
                emit showRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace qb
