#include "core/transfer/download_target.h"

#include "core/transfer/transfer_job.h"
#include "platform/local_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace qb {
namespace {

const QString placeholderName = QStringLiteral("Untitled");
// Bounds the search for a free name when other writers keep taking the names we pick.
constexpr int maxClaimAttempts = 10000;

bool pathTaken(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// A full disk fails the job with the system's own text, and retrying cannot help it.
[[noreturn]] void throwFileError(const QString& what, const QString& path, int error)
{
    if (error == ENOSPC || error == EDQUOT)
        throw std::system_error(error, std::generic_category());
    throw TransferError{QStringLiteral("%1 %2: %3").arg(what, path, LocalFiles::errnoText(error))};
}

} // namespace

DownloadTarget::DownloadTarget(QString folderPath, const QString& phoneName, OverwriteRule rule)
    : m_folderPath(QDir::cleanPath(std::move(folderPath))),
      m_candidatePath(m_folderPath + QLatin1Char('/') + safeLocalName(phoneName)),
      m_finalPath(m_candidatePath), m_rule(rule)
{}

DownloadTarget::~DownloadTarget()
{
    discard();
}

QString DownloadTarget::safeLocalName(const QString& phoneName)
{
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    QString name = phoneName;
    for (QChar& c : name) {
        if (forbidden.contains(c))
            c = QLatin1Char('_');
    }
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return placeholderName;
    // Decided before the transfer, so a long name cannot fail the final rename.
    return LocalFiles::shortenedName(name);
}

QString DownloadTarget::uniqueDestination(const QString& candidatePath)
{
    if (!pathTaken(candidatePath))
        return candidatePath;
    const QFileInfo info(candidatePath);
    const QString parent = info.path();
    const auto [base, extension] = LocalFiles::splitExtension(info.fileName());
    for (qint64 n = 1;; ++n) {
        const QString path =
            parent + QLatin1Char('/') + LocalFiles::numberedName(base, extension, n);
        if (!pathTaken(path))
            return path;
    }
}

bool DownloadTarget::prepare()
{
    if (pathTaken(m_candidatePath)) {
        switch (m_rule) {
        case OverwriteRule::Skip:
            return false;
        case OverwriteRule::Overwrite:
            // Only a file is replaced; a folder of that name keeps its contents.
            if (QFileInfo(m_candidatePath).isFile())
                m_replaceExisting = true;
            else
                m_finalPath = uniqueDestination(m_candidatePath);
            break;
        case OverwriteRule::Ask:
        case OverwriteRule::Rename:
            m_finalPath = uniqueDestination(m_candidatePath);
            break;
        }
    }
    if (!QDir().mkpath(m_folderPath))
        throw TransferError{QStringLiteral("Could not create the folder %1.").arg(m_folderPath)};
    LocalFiles::removeCrashLeftovers(m_folderPath);
    const QString path = m_folderPath + QStringLiteral("/.quillbay-") +
                         QUuid::createUuid().toString(QUuid::WithoutBraces) +
                         QStringLiteral(".part");
    // Created by us, so the file gets ordinary permissions whatever the device layer asks for.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw TransferError{QStringLiteral("Could not write to the folder %1: %2")
                                .arg(m_folderPath, file.errorString())};
    file.close();
    m_temporaryPath = path;
    return true;
}

DownloadTarget::Claim DownloadTarget::claim(const QString& to)
{
    const QByteArray from = QFile::encodeName(m_temporaryPath);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return Claim::Claimed;
    if (errno == EEXIST)
        return Claim::Taken;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        throwFileError(QStringLiteral("Could not save"), to, errno);
    // File systems without the no-replace rename: a hard link fails just as atomically.
    if (::link(from.constData(), target.constData()) == 0) {
        ::unlink(from.constData());
        return Claim::Claimed;
    }
    if (errno == EEXIST)
        return Claim::Taken;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        throwFileError(QStringLiteral("Could not save"), to, errno);
    // Neither works (FAT): the best left is to look first.
    if (pathTaken(to))
        return Claim::Taken;
    if (::rename(from.constData(), target.constData()) != 0)
        throwFileError(QStringLiteral("Could not save"), to, errno);
    return Claim::Claimed;
}

bool DownloadTarget::commit(bool syncFolder)
{
    // On the disk before it takes a name: a power cut must not leave an empty or partial file
    // under the final name, nor in place of the file it overwrites.
    if (const int error = LocalFiles::syncFile(m_temporaryPath))
        throwFileError(QStringLiteral("Could not save"), m_finalPath, error);
    if (m_replaceExisting) {
        const QByteArray from = QFile::encodeName(m_temporaryPath);
        if (::rename(from.constData(), QFile::encodeName(m_finalPath).constData()) == 0) {
            m_committed = true;
            syncFolderIf(syncFolder);
            return true;
        }
        // A folder took the file's place meanwhile: keep it and find a free name instead.
        if (errno != EISDIR && errno != ENOTEMPTY && errno != EEXIST)
            throwFileError(QStringLiteral("Could not save"), m_finalPath, errno);
        m_finalPath = uniqueDestination(m_candidatePath);
    }
    for (int attempt = 0; attempt < maxClaimAttempts; ++attempt) {
        if (claim(m_finalPath) == Claim::Claimed) {
            m_committed = true;
            syncFolderIf(syncFolder);
            return true;
        }
        if (m_rule == OverwriteRule::Skip) {
            discard();
            return false;
        }
        m_finalPath = uniqueDestination(m_candidatePath);
    }
    throw TransferError{QStringLiteral("Could not find a free name for %1.").arg(m_candidatePath)};
}

void DownloadTarget::syncFolderIf(bool wanted) const
{
    if (!wanted)
        return;
    // The file is whole and named by now; a folder that cannot be flushed only risks the name
    // after a power cut, which is no reason to fetch the file again.
    LocalFiles::syncFolder(m_folderPath);
}

void DownloadTarget::discard()
{
    if (!m_committed && !m_temporaryPath.isEmpty())
        QFile::remove(m_temporaryPath);
    m_temporaryPath.clear();
}

} // namespace qb
