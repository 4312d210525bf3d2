#include "platform/local_files.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb::LocalFiles {
namespace {

qsizetype utf8Size(QStringView text)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            bytes += 4;
            ++i;
        } else {
            bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        }
    }
    return bytes;
}

// The longest start of `text` within `maxBytes`, never splitting a surrogate pair.
QString truncated(const QString& text, qsizetype maxBytes)
{
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const qsizetype step = pair ? 2 : 1;
        const qsizetype size = utf8Size(QStringView(text).mid(i, step));
        if (bytes + size > maxBytes)
            break;
        bytes += size;
        i += step;
    }
    return text.left(i);
}

// Whether a failed link() says that the file system makes no hard links (or none to this file),
// rather than that this one failed: FUSE file systems answer ENOSYS when they lack the call, and
// many answer EROFS (on a writable disk) or EPERM; one that allows a file a single name answers
// EMLINK. A plain rename is as good there. Anything else (EEXIST above all) is the answer.
bool cannotLink(int error)
{
    switch (error) {
    case EPERM:
    case EOPNOTSUPP: // also ENOTSUP
    case ENOSYS:
    case EROFS:
    case EMLINK:
        return true;
    default:
        return false;
    }
}

} // namespace

QString singleComponent(QString name, const QString& fallback)
{
    name.replace(u'/', u'_');
    name.replace(QChar(0), u'_');
    if (name.isEmpty() || name == u"." || name == u"..")
        return fallback;
    return shortenedName(name);
}

QString shortenedName(const QString& name, qsizetype maxBytes)
{
    if (utf8Size(name) <= maxBytes)
        return name;
    const auto [base, extension] = splitExtension(name);
    const qsizetype extensionBytes = extension.isEmpty() ? 0 : utf8Size(extension) + 1;
    if (extension.isEmpty() || extensionBytes > maxBytes / 4)
        return truncated(name, maxBytes);
    return truncated(base, maxBytes - extensionBytes) + u'.' + extension;
}

std::pair<QString, QString> splitExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return {name, QString()};
    return {name.left(dot), name.mid(dot + 1)};
}

QString numberedName(const QString& base, const QString& extension, qint64 n, qsizetype maxBytes)
{
    const QString suffix = QStringLiteral(" (%1)").arg(n);
    const QString tail = extension.isEmpty() ? suffix : suffix + u'.' + extension;
    const qsizetype room = maxBytes - utf8Size(tail);
    if (room <= 0) // an absurd extension: the counter matters more
        return truncated(base, maxBytes - utf8Size(suffix)) + suffix;
    return truncated(base, room) + tail;
}

int renameNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // File systems without the no-replace rename: a hard link fails just as atomically.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return 0;
    }
    if (!cannotLink(errno))
        return errno;
    struct stat info;
    if (::lstat(target.constData(), &info) == 0)
        return EEXIST;
    return ::rename(source.constData(), target.constData()) == 0 ? 0 : errno;
}

QString claimFreeName(const QString& from, const QString& folder, const QString& name, int* error)
{
    // Bounds the search when other writers keep taking the names tried.
    constexpr int maxCandidates = 100000;
    const auto [base, extension] = splitExtension(name);
    for (int n = 0; n < maxCandidates; ++n) {
        const QString path = folder + u'/' + (n == 0 ? name : numberedName(base, extension, n));
        *error = renameNoReplace(from, path);
        if (*error == 0)
            return path;
        if (*error != EEXIST)
            return QString();
    }
    return QString();
}

int syncFile(int fd)
{
    while (::fdatasync(fd) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

namespace {

int syncPath(const QString& path, int flags, bool dataOnly)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0)
        return errno;
    int error = dataOnly ? syncFile(fd) : 0;
    while (!dataOnly && ::fsync(fd) != 0) {
        // A file system that cannot sync folders (EINVAL) has nothing to flush for them.
        if (errno != EINTR) {
            error = errno == EINVAL ? 0 : errno;
            break;
        }
    }
    ::close(fd);
    return error;
}

} // namespace

int syncFile(const QString& path)
{
    return syncPath(path, 0, true);
}

int syncFolder(const QString& path)
{
    return syncPath(path, O_DIRECTORY, false);
}

bool makeFolder(const QString& path)
{
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    QStringList missing;
    for (QString folder = absolute; !QFileInfo(folder).isDir();) {
        const QString parent = QFileInfo(folder).path();
        missing.prepend(folder);
        if (parent == folder)
            break;
        folder = parent;
    }
    for (const QString& folder : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0) {
            if (errno != EEXIST || !QFileInfo(folder).isDir())
                return false;
            continue; // made meanwhile by someone else, who flushes it
        }
        syncFolder(QFileInfo(folder).path());
    }
    return true;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString userName(uint uid)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid_t(uid), &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString foreignOwnerNote(const QString& path)
{
    struct stat status
    {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || status.st_uid == ::geteuid())
        return {};
    return QStringLiteral("; it belongs to %1").arg(userName(status.st_uid));
}

QString shellQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

int openRegularFile(const QString& path, qint64* size, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = errnoText(errno);
        return -1;
    }
    struct stat status
    {};
    if (::fstat(fd, &status) != 0) {
        *error = errnoText(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        *error = QStringLiteral("not a regular file");
        ::close(fd);
        return -1;
    }
    // Only the open was to be kept from waiting; reads of a regular file go on as usual.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *error = errnoText(errno);
        ::close(fd);
        return -1;
    }
    *size = qint64(status.st_size);
    return fd;
}

std::optional<FileStamp> fileStamp(int fd)
{
    struct stat status
    {};
    if (::fstat(fd, &status) != 0) {
        return std::nullopt;
    }
    const auto nanoseconds = [](const timespec& time) {
        return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    return FileStamp{qint64(status.st_size), nanoseconds(status.st_mtim)};
}

bool rewrittenSince(const FileStamp& before, const FileStamp& now)
{
    if (now.size != before.size) {
        return now.size < before.size;
    }
    return now.modifiedNs != before.modifiedNs;
}

namespace {

// Whether `name` is one of the temporary names that downloads and uploads give their files.
bool isCrashLeftoverName(const QString& name)
{
    static constexpr QLatin1StringView suffix(".part");
    for (const QLatin1StringView prefix :
         {QLatin1StringView(".quillbay-upload-"), QLatin1StringView(".quillbay-")}) {
        if (name.size() < prefix.size() + suffix.size() || !name.startsWith(prefix) ||
            !name.endsWith(suffix))
            continue;
        const QString middle = name.mid(prefix.size(), name.size() - prefix.size() - suffix.size());
        // Exactly the form QUuid writes: a user's ".quillbay-notes.part" is not ours.
        const QUuid id = QUuid::fromString(middle);
        if (!id.isNull() && middle == id.toString(QUuid::WithoutBraces))
            return true;
    }
    return false;
}

} // namespace

void removeCrashLeftovers(const QString& folder)
{
    const QDateTime dayAgo = QDateTime::currentDateTimeUtc().addDays(-1);
    const QFileInfoList parts = QDir(folder).entryInfoList(
        {QStringLiteral(".quillbay-*.part")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& part : parts) {
        if (part.isFile() && isCrashLeftoverName(part.fileName()) &&
            part.lastModified().toUTC() < dayAgo)
            QFile::remove(part.absoluteFilePath());
    }
}

void removeCrashLeftoversOnce(const QString& folder)
{
    static std::mutex mutex;
    static QSet<QString> swept;
    const QString key = QDir::cleanPath(folder);
    {
        const std::lock_guard lock(mutex);
        if (swept.contains(key))
            return;
        swept.insert(key);
    }
    removeCrashLeftovers(key);
}

namespace {

QString cacheFolder()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return cache.isEmpty() ? QDir::homePath() + QStringLiteral("/.cache") : cache;
}

QString temporaryFolderName(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// Whether nothing in the folder, the folder included, changed since `since`.
bool untouchedSince(const QString& folder, const QDateTime& since)
{
    if (QFileInfo(folder).lastModified() >= since)
        return false;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileInfo().lastModified() >= since)
            return false;
    }
    return true;
}

} // namespace

void removeStaleTemporaryFolders()
{
    const QDateTime dayAgo = QDateTime::currentDateTime().addDays(-1);
    const QFileInfoList folders =
        QDir(cacheFolder()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo& folder : folders) {
        const QUuid id = QUuid::fromString(folder.fileName());
        // Only names createTemporaryFolder() gives: the cache folder holds other things too.
        if (id.isNull() || folder.fileName() != temporaryFolderName(id))
            continue;
        if (untouchedSince(folder.absoluteFilePath(), dayAgo))
            QDir(folder.absoluteFilePath()).removeRecursively();
    }
}

QString createTemporaryFolder()
{
    const QString path = cacheFolder() + u'/' + temporaryFolderName(QUuid::createUuid());
    if (!QDir().mkpath(path))
        return QString();
    return path;
}

TemporaryFolder::TemporaryFolder() : m_path(createTemporaryFolder()) {}

TemporaryFolder::~TemporaryFolder()
{
    if (!m_path.isEmpty())
        QDir(m_path).removeRecursively();
}

} // namespace qb::LocalFiles
