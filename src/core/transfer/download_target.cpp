#include "core/transfer/download_target.h"

#include "core/transfer/transfer_job.h"
#include "platform/local_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace qb {
namespace {

const QString placeholderName = QStringLiteral("Untitled");

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

void UnfinishedDownloads::abandon()
{
    const std::lock_guard lock(m_mutex);
    m_abandoned = true;
    // By path, not through a descriptor: whoever still writes keeps writing, into nothing.
    for (const QString& path : std::as_const(m_paths))
        ::unlink(QFile::encodeName(path).constData());
    m_paths.clear();
}

bool UnfinishedDownloads::add(const QString& temporaryPath)
{
    const std::lock_guard lock(m_mutex);
    if (m_abandoned)
        return false;
    m_paths.insert(temporaryPath);
    return true;
}

void UnfinishedDownloads::remove(const QString& temporaryPath)
{
    const std::lock_guard lock(m_mutex);
    m_paths.remove(temporaryPath);
}

DownloadTarget::DownloadTarget(QString folderPath, const QString& phoneName, OverwriteRule rule,
                               std::shared_ptr<UnfinishedDownloads> unfinished)
    : m_folderPath(QDir::cleanPath(std::move(folderPath))),
      m_candidatePath(m_folderPath + QLatin1Char('/') + safeLocalName(phoneName)),
      m_finalPath(m_candidatePath), m_rule(rule), m_unfinished(std::move(unfinished))
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
    // Decided before the transfer, so a long name cannot fail the final rename.
    return LocalFiles::singleComponent(name, placeholderName);
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
    const bool existed = QFileInfo(m_folderPath).isDir();
    if (!QDir().mkpath(m_folderPath))
        throw TransferError{QStringLiteral("Could not create the folder %1.").arg(m_folderPath)};
    if (existed)
        LocalFiles::removeCrashLeftoversOnce(m_folderPath);
    const QString path = m_folderPath + QStringLiteral("/.quillbay-") +
                         QUuid::createUuid().toString(QUuid::WithoutBraces) +
                         QStringLiteral(".part");
    // Created by us, so the file gets ordinary permissions whatever the device layer asks for.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw TransferError{QStringLiteral("Could not write to the folder %1: %2")
                                .arg(m_folderPath, file.errorString())};
    file.close();
    if (m_unfinished && !m_unfinished->add(path)) {
        QFile::remove(path);
        throw TransferError{
            QStringLiteral("The download was given up: the application is quitting.")};
    }
    m_temporaryPath = path;
    return true;
}

bool DownloadTarget::commit(bool syncFolder)
{
    // On the disk before it takes a name: a power cut must not leave an empty or partial file
    // under the final name, nor in place of the file it overwrites.
    if (const int error = LocalFiles::syncFile(m_temporaryPath))
        throwFileError(QStringLiteral("Could not save"), m_finalPath, error);
    struct stat info;
    if (::stat(QFile::encodeName(m_temporaryPath).constData(), &info) != 0)
        throwFileError(QStringLiteral("Could not save"), m_finalPath, errno);
    m_size = info.st_size;
    if (m_replaceExisting) {
        const QByteArray from = QFile::encodeName(m_temporaryPath);
        if (::rename(from.constData(), QFile::encodeName(m_finalPath).constData()) == 0) {
            markCommitted();
            syncFolderIf(syncFolder);
            return true;
        }
        // A folder took the file's place meanwhile: keep it and find a free name instead.
        if (errno != EISDIR && errno != ENOTEMPTY && errno != EEXIST)
            throwFileError(QStringLiteral("Could not save"), m_finalPath, errno);
    }
    if (m_rule == OverwriteRule::Skip) {
        const int error = LocalFiles::renameNoReplace(m_temporaryPath, m_finalPath);
        if (error == EEXIST) {
            discard();
            return false;
        }
        if (error != 0)
            throwFileError(QStringLiteral("Could not save"), m_finalPath, error);
    } else {
        int error = 0;
        const QString path = LocalFiles::claimFreeName(
            m_temporaryPath, m_folderPath, QFileInfo(m_candidatePath).fileName(), &error);
        if (error == EEXIST)
            throw TransferError{
                QStringLiteral("Could not find a free name for %1.").arg(m_candidatePath)};
        if (path.isEmpty())
            throwFileError(QStringLiteral("Could not save"), m_candidatePath, error);
        m_finalPath = path;
    }
    markCommitted();
    syncFolderIf(syncFolder);
    return true;
}

void DownloadTarget::syncFolderIf(bool wanted) const
{
    if (!wanted)
        return;
    // The file is whole and named by now; a folder that cannot be flushed only risks the name
    // after a power cut, which is no reason to fetch the file again.
    LocalFiles::syncFolder(m_folderPath);
}

void DownloadTarget::markCommitted()
{
    m_committed = true;
    if (m_unfinished)
        m_unfinished->remove(m_temporaryPath);
}

void DownloadTarget::discard()
{
    if (!m_committed && !m_temporaryPath.isEmpty()) {
        QFile::remove(m_temporaryPath);
        if (m_unfinished)
            m_unfinished->remove(m_temporaryPath);
    }
    m_temporaryPath.clear();
}

} // namespace qb
