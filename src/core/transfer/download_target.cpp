#include "core/transfer/download_target.h"

#include "core/transfer/transfer_job.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

TransferError fileError(const QString& what, const QString& path, int error)
{
    return TransferError{QStringLiteral("%1 %2: %3").arg(what, path, errnoText(error))};
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
    return name;
}

QString DownloadTarget::uniqueDestination(const QString& candidatePath)
{
    if (!pathTaken(candidatePath))
        return candidatePath;
    const QFileInfo info(candidatePath);
    const QString parent = info.path();
    const QString fileName = info.fileName();
    // Only the last extension counts, and a leading dot starts a name, not an extension.
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < fileName.size() - 1;
    const QString base = hasExtension ? fileName.left(dot) : fileName;
    const QString extension = hasExtension ? fileName.mid(dot + 1) : QString();
    for (qint64 n = 1;; ++n) {
        QString name = QStringLiteral("%1 (%2)").arg(base).arg(n);
        if (hasExtension)
            name += QLatin1Char('.') + extension;
        const QString path = parent + QLatin1Char('/') + name;
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
        throw fileError(QStringLiteral("Could not save"), to, errno);
    // File systems without the no-replace rename: a hard link fails just as atomically.
    if (::link(from.constData(), target.constData()) == 0) {
        ::unlink(from.constData());
        return Claim::Claimed;
    }
    if (errno == EEXIST)
        return Claim::Taken;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        throw fileError(QStringLiteral("Could not save"), to, errno);
    // Neither works (FAT): the best left is to look first.
    if (pathTaken(to))
        return Claim::Taken;
    if (::rename(from.constData(), target.constData()) != 0)
        throw fileError(QStringLiteral("Could not save"), to, errno);
    return Claim::Claimed;
}

bool DownloadTarget::commit()
{
    if (m_replaceExisting) {
        const QByteArray from = QFile::encodeName(m_temporaryPath);
        if (::rename(from.constData(), QFile::encodeName(m_finalPath).constData()) == 0) {
            m_committed = true;
            return true;
        }
        // A folder took the file's place meanwhile: keep it and find a free name instead.
        if (errno != EISDIR && errno != ENOTEMPTY && errno != EEXIST)
            throw fileError(QStringLiteral("Could not save"), m_finalPath, errno);
        m_finalPath = uniqueDestination(m_candidatePath);
    }
    for (int attempt = 0; attempt < maxClaimAttempts; ++attempt) {
        if (claim(m_finalPath) == Claim::Claimed) {
            m_committed = true;
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

void DownloadTarget::discard()
{
    if (!m_committed && !m_temporaryPath.isEmpty())
        QFile::remove(m_temporaryPath);
    m_temporaryPath.clear();
}

} // namespace qb
