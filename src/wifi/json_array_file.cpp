#include "wifi/json_array_file.h"

#include "platform/local_files.h"
#include "platform/logger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qb {

namespace {

Logger registryLog()
{
    return Logger(QStringLiteral("WiFiAdvertiser"), true);
}

// The start of the name of a save's temporary beside the file `name`: hidden, and made only here.
QString temporaryPrefix(const QString& name)
{
    return u'.' + name + QStringLiteral(".quillbay-save-");
}

// A save's temporary: closed, and removed unless it was renamed into place.
struct OwnedFile
{
    explicit OwnedFile(int descriptor) : fd(descriptor) {}
    OwnedFile(OwnedFile&& other) noexcept
        : fd(std::exchange(other.fd, -1)), path(std::exchange(other.path, {}))
    {}
    OwnedFile& operator=(OwnedFile&&) = delete;
    ~OwnedFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!path.isEmpty())
            ::unlink(path.constData());
    }
    int fd;
    QByteArray path;
};

// Whether `path` names the open file `fd`.
bool namesFile(const QByteArray& path, int fd)
{
    struct stat named
    {};
    struct stat open
    {};
    return ::lstat(path.constData(), &named) == 0 && ::fstat(fd, &open) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

// A new temporary from `pattern` ("…XXXXXX", filled in), locked while it is written so that the
// start of another registry of the same file never takes it for a leftover; fd -1 with errno set
// when none could be made.
OwnedFile makeTemporary(QByteArray& pattern)
{
    const QByteArray unfilled = pattern;
    for (int round = 0; round < 10; ++round) {
        pattern = unfilled;
        OwnedFile file(::mkostemp(pattern.data(), O_CLOEXEC));
        if (file.fd < 0)
            return file;
        file.path = pattern;
        // Where the file system takes no locks, a sweep has nothing to tell it by either.
        // A sweep may have taken it, and removes it, between its making and its lock.
        if ((::flock(file.fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) &&
            namesFile(pattern, file.fd))
            return file;
        file.path.clear();
    }
    errno = EEXIST;
    return OwnedFile(-1);
}

} // namespace

JsonArrayFile::JsonArrayFile(QString path) : m_path(std::move(path)) {}

std::optional<QJsonArray> JsonArrayFile::readArray()
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0) {
        const int error = errno;
        leaveAlone(QStringLiteral("The folder \u201c%1\u201d cannot be written (%2)%3.")
                       .arg(QDir::toNativeSeparators(folder), LocalFiles::errnoText(error),
                            LocalFiles::foreignOwnerNote(folder)));
    } else {
        removeCutSaves();
    }
    struct stat status
    {};
    if (::stat(QFile::encodeName(m_path).constData(), &status) != 0 && errno == ENOENT)
        return std::nullopt;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        leaveAlone(QStringLiteral("\u201c%1\u201d cannot be read (%2)%3.")
                       .arg(QDir::toNativeSeparators(m_path), file.errorString(),
                            LocalFiles::foreignOwnerNote(m_path)));
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        markUnreadable();
        return std::nullopt;
    }
    return document.array();
}

void JsonArrayFile::leaveAlone(const QString& why)
{
    if (!m_problem.isEmpty())
        return;
    m_problem = why;
    registryLog().error(QStringLiteral("Leaving %1 as it is and saving nothing over it: %2"),
                        {m_path, why});
}

void JsonArrayFile::removeCutSaves() const
{
    // A crash or a power cut between a save's temporary and its rename leaves the temporary
    // behind. Only names that no one but a save of this file makes are removed: whatever else the
    // user keeps beside it stays, whatever its name.
    const QFileInfo info(m_path);
    const QString prefix = temporaryPrefix(info.fileName());
    const QRegularExpression cut(
        QStringLiteral("^%1[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(prefix)));
    const QFileInfoList candidates =
        QDir(info.absolutePath())
            .entryInfoList({prefix + QStringLiteral("??????")},
                           QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QFileInfo& candidate : candidates) {
        if (!cut.match(candidate.fileName()).hasMatch())
            continue;
        // A save still writing it holds a lock on it (where the file system takes locks).
        const QByteArray path = QFile::encodeName(candidate.absoluteFilePath());
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        const bool inUse = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        const bool same = !inUse && namesFile(path, fd);
        if (same && ::unlink(path.constData()) == 0)
            registryLog().info(QStringLiteral("Removed %1, left by a save that was cut off"),
                               {candidate.absoluteFilePath()});
        ::close(fd);
    }
}

void JsonArrayFile::markUnreadable()
{
    if (!m_unreadable)
        registryLog().warning(QStringLiteral("Ignoring undecodable %1"), {m_path});
    m_unreadable = true;
}

bool JsonArrayFile::setAsideUnreadable()
{
    if (!m_unreadable)
        return true;
    QFile file(m_path);
    if (!file.exists()) {
        m_unreadable = false;
        return true;
    }
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    QString target = m_path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target =
            m_path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!file.rename(target)) {
        registryLog().error(QStringLiteral("Could not set aside %1: %2"),
                            {m_path, file.errorString()});
        return false;
    }
    registryLog().warning(QStringLiteral("Set aside undecodable %1 as %2"), {m_path, target});
    m_unreadable = false;
    m_setAsidePath = target;
    return true;
}

int JsonArrayFile::restrictToUser(int fd)
{
    if (::fchmod(fd, S_IRUSR | S_IWUSR) == 0)
        return 0;
    const int error = errno;
    // A file system without Unix permissions (FAT or exFAT, often through FUSE): the mount decides
    // who reads the file there, and the save goes ahead.
    if (error != EPERM && error != ENOTSUP && error != ENOSYS)
        return error;
    if (!std::exchange(m_warnedPermissions, true))
        registryLog().warning(
            QStringLiteral("Saving %1 without making it private to this user: its file system "
                           "keeps no permissions (%2)"),
            {m_path, LocalFiles::errnoText(error)});
    return 0;
}

bool JsonArrayFile::save(const QJsonArray& array)
{
    // Another user's file, or a folder this user cannot write, stays as the user will find it.
    if (!m_problem.isEmpty())
        return false;
    // Overwriting an undecodable file would destroy what might still be recovered by hand.
    if (!setAsideUnreadable())
        return false;

    const QByteArray bytes = QJsonDocument(array).toJson(QJsonDocument::Compact);
    const QFileInfo info(m_path);
    QByteArray temporary =
        QFile::encodeName(info.absolutePath() + u'/' + temporaryPrefix(info.fileName())) + "XXXXXX";
    // A cleanup may have removed the folder while this copy runs: the whole list is saved again.
    if (!info.dir().exists())
        LocalFiles::makeFolder(info.absolutePath());
    OwnedFile file = makeTemporary(temporary);
    if (file.fd < 0) {
        registryLog().error(QStringLiteral("Could not save %1: %2"),
                            {m_path, LocalFiles::errnoText(errno)});
        return false;
    }
    if (const int error = restrictToUser(file.fd)) {
        registryLog().error(QStringLiteral("Could not save %1: it could not be made private (%2)"),
                            {m_path, LocalFiles::errnoText(error)});
        return false;
    }
    // A full disk or a quota that takes only part of it fails here, before anything is renamed.
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t step =
            ::write(file.fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (step < 0 && errno == EINTR)
            continue;
        if (step <= 0) {
            registryLog().error(QStringLiteral("Could not save %1: %2"),
                                {m_path, LocalFiles::errnoText(step < 0 ? errno : ENOSPC)});
            return false;
        }
        written += step;
    }
    int error = LocalFiles::syncFile(file.fd);
    // Renamed while the temporary is still open, and so locked: no sweep takes it for a leftover.
    if (error == 0 && ::rename(temporary.constData(), QFile::encodeName(m_path).constData()) != 0)
        error = errno;
    if (::close(std::exchange(file.fd, -1)) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        registryLog().error(QStringLiteral("Could not save %1: %2"),
                            {m_path, LocalFiles::errnoText(error)});
        return false;
    }
    file.path.clear(); // renamed: nothing left to remove
    // The new name is only in the folder's entries until the folder reaches the disk.
    if (const int folderError = LocalFiles::syncFolder(info.absolutePath())) {
        registryLog().error(QStringLiteral("Could not save %1: its folder was not flushed (%2)"),
                            {m_path, LocalFiles::errnoText(folderError)});
        return false;
    }
    return true;
}

} // namespace qb
