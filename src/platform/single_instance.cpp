#include "platform/single_instance.h"

#include "platform/logger.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <unistd.h>

namespace qb {
namespace {

const QByteArray kShowRequest = "show\n";
const QByteArray kShown = "shown\n";
// How long a copy keeps a request connection that does not say what it wants.
constexpr int kRequestTimeoutMs = 5000;
// Longer than making a lock file and writing its owner's details into it can take.
constexpr qint64 kLockWriteMs = 5000;

Logger instanceLog()
{
    return Logger(QStringLiteral("App"), true);
}

} // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent), m_folder(std::move(folder))
{}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString& folder)
{
    const QByteArray key = QCryptographicHash::hash(QFile::encodeName(QDir(folder).absolutePath()),
                                                    QCryptographicHash::Sha256);
    const QString name = QStringLiteral("quillbay-") + QString::fromLatin1(key.toHex().left(16));
    // The runtime folder is the user's own (mode 0700); without one, the temporary folder, with
    // the user's id in the name.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime + u'/' + name;
    return QDir::tempPath() + u'/' + name + u'-' + QString::number(::getuid());
}

SingleInstance::Outcome SingleInstance::start(int waitMs)
{
    QDir().mkpath(m_folder);
    m_lock = std::make_unique<QLockFile>(m_folder + QStringLiteral("/quillbay.lock"));
    // Never stale by age: the copy holds it for its whole run. One whose process is gone is stale
    // at once.
    m_lock->setStaleLockTime(0);
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        // Tried again each round: the copy holding it may have quit or died meanwhile.
        if (m_lock->tryLock(0)) {
            listen();
            return Outcome::Running;
        }
        if (m_lock->error() != QLockFile::LockFailedError) {
            instanceLog().warning(
                QStringLiteral("Could not lock %1; not checking for another running copy"),
                {m_lock->fileName()});
            return Outcome::Running;
        }
        // The copy holding the lock may not listen yet: it takes the lock first.
        if (askRunningCopy(deadline)) {
            instanceLog().info(
                QStringLiteral("Quillbay is already running; asked it to show its window"));
            return Outcome::HandedOver;
        }
        // A lock file without its owner's details is what a power cut while it was being made
        // leaves. Once it is not just being made, it is stale if no process holds it open.
        const QFileInfo lockFile(m_lock->fileName());
        if (!m_lock->getLockInfo(nullptr, nullptr, nullptr) && lockFile.exists() &&
            lockFile.lastModified().msecsTo(QDateTime::currentDateTime()) > kLockWriteMs &&
            m_lock->removeStaleLockFile())
            continue;
        if (deadline.hasExpired()) {
            qint64 pid = 0;
            m_lock->getLockInfo(&pid, nullptr, nullptr);
            instanceLog().warning(
                QStringLiteral("Quillbay is already running (process %1) but does not answer; "
                               "not starting a second copy"),
                {QString::number(pid)});
            return Outcome::NoAnswer;
        }
        QThread::msleep(50);
    }
}

bool SingleInstance::askRunningCopy(const QDeadlineTimer& deadline) const
{
    QLocalSocket socket;
    socket.connectToServer(serverName(m_folder));
    if (!socket.waitForConnected(int(std::min<qint64>(deadline.remainingTime(), 1000))))
        return false;
    socket.write(kShowRequest);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    // The running copy answers from its event loop, which may still be busy starting.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.readLine() == kShown;
}

void SingleInstance::listen()
{
    const QString name = serverName(m_folder);
    // Holding the lock, no other copy listens there: a socket file is what a crashed one left.
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) {
        instanceLog().warning(QStringLiteral("Other starts cannot reach this copy: %1"),
                              {m_server->errorString()});
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptRequests);
    // Quitting, this copy shows no window any more: a start meanwhile waits for the lock instead.
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, m_server, &QLocalServer::close);
}

void SingleInstance::acceptRequests()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
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
