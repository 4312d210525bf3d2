#include "platform/single_instance.h"

#include "platform/local_files.h"
#include "platform/logger.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace qb {
namespace {

const QByteArray kShowRequest = "show\n";
const QByteArray kShown = "shown\n";
// How long a copy keeps a request connection that does not say what it wants.
constexpr int kRequestTimeoutMs = 5000;
// Rounds of a start that keeps losing its lock file to another start replacing it.
constexpr int kLockRounds = 100;

Logger instanceLog()
{
    return Logger(QStringLiteral("App"), true);
}

QString lockPath(const QString& folder)
{
    return folder + QStringLiteral("/quillbay.lock");
}

// Whether `fd` is still the file that `path` names: a start that replaced the file meanwhile
// leaves a lock on a file nobody else looks at.
bool namesSameFile(int fd, const QByteArray& path)
{
    struct stat held
    {};
    struct stat named
    {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Whether a live process holds an advisory lock on the file `status` describes, from the kernel's
// list of locks: for a file this user may not even open.
bool lockedByAnyProcess(const struct stat& status)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:02:131074 0 EOF", with major and minor in hex; a
    // waiting lock's line has "->" after the number.
    const QByteArray wanted = QByteArray::number(major(status.st_dev), 16).rightJustified(2, '0') +
                              ':' +
                              QByteArray::number(minor(status.st_dev), 16).rightJustified(2, '0') +
                              ':' + QByteArray::number(quint64(status.st_ino));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 5 && fields.at(1) != "->" && fields.at(5) == wanted)
            return true;
    }
    return false;
}

// Where the socket in `folder` is reached: its path, or, when that is too long for a socket
// address, the same file through a descriptor of the folder, which `handle` then keeps open.
QByteArray socketAddress(const QString& folder, OwnedDescriptor& handle)
{
    const QByteArray path = QFile::encodeName(SingleInstance::socketPath(folder));
    if (path.size() < qsizetype(sizeof(sockaddr_un::sun_path)))
        return path;
    handle = OwnedDescriptor(
        ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!handle.valid())
        return path;
    return "/proc/self/fd/" + QByteArray::number(handle.get()) + "/quillbay.socket";
}

// A lock that cannot be taken for another reason than a running copy: this start runs unguarded.
void warnLockFailed(const QString& folder, int error)
{
    instanceLog().warning(
        QStringLiteral("Could not lock %1 (%2); not checking for another running copy"),
        {lockPath(folder), LocalFiles::errnoText(error)});
}

bool fillAddress(const QByteArray& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof(address.sun_path)))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

// The effective user of the process at the other end of the connected socket `fd`; -1 when the
// kernel does not say.
long long peerUser(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return -1;
    return peer.uid;
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
    // The socket goes while the lock is still held: a later copy may listen there once it is not.
    stopListening();
}

QString SingleInstance::socketPath(const QString& folder)
{
    return QDir(folder).absolutePath() + QStringLiteral("/quillbay.socket");
}

SingleInstance::Outcome SingleInstance::start(int waitMs)
{
    LocalFiles::makeFolder(m_folder);
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        // Tried again each round: the copy holding it may have quit or died meanwhile.
        switch (takeLock()) {
        case Lock::Taken:
            listen();
            return Outcome::Running;
        case Lock::Failed:
            return Outcome::Running;
        case Lock::Held:
        case Lock::Retry:
            break;
        }
        // The copy holding the lock may not listen yet: it takes the lock first.
        if (askRunningCopy(deadline)) {
            instanceLog().info(
                QStringLiteral("Quillbay is already running; asked it to show its window"));
            return Outcome::HandedOver;
        }
        if (deadline.hasExpired()) {
            QFile lock(lockPath(m_folder));
            const QByteArray pid = lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed() : "";
            instanceLog().warning(
                QStringLiteral("Quillbay is already running (process %1) but does not answer; "
                               "not starting a second copy"),
                {pid.isEmpty() ? QStringLiteral("unknown") : QString::fromLatin1(pid)});
            return Outcome::NoAnswer;
        }
        QThread::msleep(50);
    }
}

SingleInstance::Lock SingleInstance::takeLock()
{
    const QByteArray path = QFile::encodeName(lockPath(m_folder));
    for (int round = 0; round < kLockRounds; ++round) {
        OwnedDescriptor lock(
            ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (!lock.valid()) {
            const int error = errno;
            if (error != EACCES && error != EPERM && error != EROFS && error != ELOOP) {
                warnLockFailed(m_folder, error);
                return Lock::Failed;
            }
            const Lock replaced = replaceUnwritableLock(path);
            if (replaced == Lock::Retry)
                continue;
            return replaced;
        }
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                return Lock::Held;
            warnLockFailed(m_folder, errno);
            return Lock::Failed;
        }
        if (!namesSameFile(lock.get(), path))
            continue;
        // For the reader of a log only: who holds it is the kernel's to say.
        const QByteArray pid = QByteArray::number(::getpid()) + '\n';
        if (::ftruncate(lock.get(), 0) == 0) {
            [[maybe_unused]] const ssize_t written =
                ::pwrite(lock.get(), pid.constData(), size_t(pid.size()), 0);
        }
        m_lock = std::move(lock);
        return Lock::Taken;
    }
    return Lock::Held;
}

// A lock file this user cannot open for writing: another user's (a run under sudo made it), made
// read-only, or a link. The folder is the user's: once no live process holds the file, it is
// removed and made anew. Removing runs under the folder's own lock, so that two starts never
// remove the file that one of them has just made.
SingleInstance::Lock SingleInstance::replaceUnwritableLock(const QByteArray& path)
{
    const auto failed = [this](int error) {
        warnLockFailed(m_folder, error);
        return Lock::Failed;
    };
    // Held for a moment only; a file system without locks on folders goes without it.
    const OwnedDescriptor folder(
        ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid() && ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return Lock::Held;
    // Another start may have replaced it meanwhile.
    if (OwnedDescriptor(::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW)).valid())
        return Lock::Retry;
    struct stat status
    {};
    if (::lstat(path.constData(), &status) != 0)
        return errno == ENOENT ? Lock::Retry : failed(errno);
    OwnedDescriptor readable(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (readable.valid()) {
        if (::flock(readable.get(), LOCK_EX | LOCK_NB) != 0)
            return errno == EWOULDBLOCK ? Lock::Held : failed(errno);
        if (!namesSameFile(readable.get(), path))
            return Lock::Retry;
    } else if (lockedByAnyProcess(status)) {
        return Lock::Held;
    }
    if (::unlink(path.constData()) == 0) {
        instanceLog().info(QStringLiteral("Replaced %1, which no running copy held"),
                           {lockPath(m_folder)});
        return Lock::Retry;
    }
    const int error = errno;
    // A folder that cannot be written: the lock held on the file as it is keeps other starts out
    // all the same.
    if (readable.valid()) {
        m_lock = std::move(readable);
        return Lock::Taken;
    }
    return failed(error);
}

bool SingleInstance::askRunningCopy(const QDeadlineTimer& deadline)
{
    OwnedDescriptor folderHandle;
    sockaddr_un address{};
    if (!fillAddress(socketAddress(m_folder, folderHandle), address))
        return false;
    const OwnedDescriptor connection(
        ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // Not there yet (still starting), or not any more (quitting): the caller tries again.
    if (!connection.valid() ||
        ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0)
        return false;
    // Only a copy of this user is believed; the socket file is in the user's folder, but a
    // folder others may write to must not let them answer for it.
    if (const long long user = peerUser(connection.get()); user != ::geteuid()) {
        if (!std::exchange(m_warnedOtherUser, true))
            instanceLog().warning(
                QStringLiteral("A process of another user (%1) listens at %2; not asking it"),
                {QString::number(user), socketPath(m_folder)});
        return false;
    }
    if (::send(connection.get(), kShowRequest.constData(), size_t(kShowRequest.size()),
               MSG_NOSIGNAL) != kShowRequest.size())
        return false;
    // The running copy answers from its event loop, which may still be busy starting.
    QByteArray answer;
    while (!answer.contains('\n')) {
        pollfd readable{connection.get(), POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(std::max<qint64>(deadline.remainingTime(), 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[64];
        const ssize_t got = ::recv(connection.get(), buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        answer.append(buffer, got);
    }
    return answer == kShown;
}

void SingleInstance::listen()
{
    m_listenerAddress = socketAddress(m_folder, m_folderHandle);
    sockaddr_un address{};
    OwnedDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    int error = 0;
    if (!fillAddress(m_listenerAddress, address)) {
        error = ENAMETOOLONG;
    } else if (!listener.valid()) {
        error = errno;
    } else {
        // Holding the lock, no other copy listens there: a socket file is what a crashed one left.
        ::unlink(m_listenerAddress.constData());
        if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
                0 ||
            ::listen(listener.get(), 16) != 0)
            error = errno;
    }
    if (error != 0) {
        instanceLog().warning(QStringLiteral("Other starts cannot reach this copy: %1"),
                              {LocalFiles::errnoText(error)});
        return;
    }
    m_listener = std::move(listener);
    m_requests = new QSocketNotifier(m_listener.get(), QSocketNotifier::Read, this);
    connect(m_requests, &QSocketNotifier::activated, this, &SingleInstance::acceptRequests);
    // Quitting, this copy shows no window any more: a start meanwhile waits for the lock instead.
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &SingleInstance::stopListening);
}

void SingleInstance::stopListening()
{
    if (!m_listener.valid())
        return;
    delete std::exchange(m_requests, nullptr);
    ::unlink(m_listenerAddress.constData());
    m_listener = OwnedDescriptor();
    m_folderHandle = OwnedDescriptor();
    // Requests taken but not yet read are not answered either.
    for (QLocalSocket* socket : findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly))
        socket->abort();
}

void SingleInstance::acceptRequests()
{
    for (;;) {
        OwnedDescriptor connection(
            ::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!connection.valid())
            return;
        // Only a start of this copy's user may ask.
        if (peerUser(connection.get()) != ::geteuid())
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
