#include "browsing/phone_paste.h"

#include "core/transfer/download_target.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "platform/local_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qb {
namespace {

// Whether a phone's name can stand as it is for a file in a local folder.
bool usableLocally(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) &&
           QFile::encodeName(name).size() <= 255;
}

// A job that can still run, or be retried by the user, and so may still need the folder.
bool canStillRun(TransferStatus status)
{
    return status != TransferStatus::Completed && status != TransferStatus::Canceled;
}

// Where the upload reads the file from: the saved file, renamed beside itself to the item's own
// name when the download had to change that name and the name can be a local one.
QString uploadSource(const QString& savedPath, const QString& name)
{
    const QFileInfo saved(savedPath);
    if (saved.fileName() == name || !usableLocally(name))
        return savedPath;
    const QString own = saved.path() + QLatin1Char('/') + name;
    if (QFile::rename(savedPath, own) || (!saved.exists() && QFileInfo::exists(own)))
        return own;
    return savedPath;
}

// The upload of the file a download saved at `savedPath`, under `name`, the item's own name.
TransferJob uploadJob(const TransferJob& download, const QString& savedPath, const QString& name,
                      const PhonePaste::Target& target)
{
    const QString source = uploadSource(savedPath, name);
    // The phone names the file after the local one; say so if it could not carry the name.
    const QString sent = QFileInfo(source).fileName();
    return TransferJob::make(
        TransferType::Upload, TransferEndpoint::local(QUrl::fromLocalFile(source)),
        TransferEndpoint::android(target.deviceId, target.folderPath, sent, target.attachment),
        download.totalBytes);
}

} // namespace

PhonePaste::PhonePaste(TransferQueueViewModel& queue, QString folder, Target target,
                       QObject* parent)
    : QObject(parent), m_queue(queue), m_folder(std::move(folder)), m_target(std::move(target))
{
    connect(&queue, &TransferQueueViewModel::jobsCompleted, this, &PhonePaste::downloadsCompleted);
    connect(&queue, &TransferQueueViewModel::jobsChanged, this, &PhonePaste::update);
}

PhonePaste* PhonePaste::start(TransferQueueViewModel& queue, const QList<FileItem>& items,
                              const QString& sourceDeviceId, quint64 sourceAttachment,
                              const Target& target, QObject* parent)
{
    QList<FileItem> files;
    for (const FileItem& item : items) {
        if (!item.isDirectory)
            files.append(item);
    }
    if (files.isEmpty() || sourceDeviceId.isEmpty() || target.deviceId.isEmpty() ||
        target.folderPath.isEmpty())
        return nullptr;
    const QString folder = LocalFiles::createTemporaryFolder();
    if (folder.isEmpty())
        return nullptr;
    auto* paste = new PhonePaste(queue, folder, target, parent);
    QList<TransferJob> downloads;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const FileItem& item = files.at(i);
        // A folder per file: two names that the engine saves alike cannot meet.
        const QString fileFolder = folder + QLatin1Char('/') + QString::number(i + 1);
        TransferJob download = TransferJob::make(
            TransferType::Download,
            TransferEndpoint::android(sourceDeviceId, item.path, item.name, sourceAttachment),
            TransferEndpoint::local(QUrl::fromLocalFile(fileFolder)), item.size.value_or(0));
        const QString saved =
            fileFolder + QLatin1Char('/') + DownloadTarget::safeLocalName(item.name);
        paste->m_byDownload.insert(download.id, paste->m_pending.size());
        paste->m_pending.append({download, item.name, saved, std::nullopt});
        downloads.append(download);
    }
    queue.enqueue(downloads);
    return paste;
}

void PhonePaste::downloadsCompleted(const QList<TransferJob>& jobs)
{
    for (const TransferJob& job : jobs) {
        const auto index = m_byDownload.constFind(job.id);
        if (index == m_byDownload.cend())
            continue;
        Pending& pending = m_pending[*index];
        // Queued only now: the upload must never read a file still being written.
        if (pending.upload)
            continue;
        const TransferJob upload =
            uploadJob(pending.download, pending.savedPath, pending.name, m_target);
        pending.upload = upload.id;
        m_queue.enqueue(upload);
    }
}

void PhonePaste::update()
{
    QHash<QUuid, TransferStatus> status;
    for (const TransferJob& job : m_queue.jobs())
        status.insert(job.id, job.status);

    // Unseen yet, or listed and able to run or be retried.
    auto mayRun = [&status](const QUuid& id, bool& seen) {
        const auto it = status.constFind(id);
        if (it == status.constEnd())
            return !seen;
        seen = true;
        return canStillRun(*it);
    };

    bool anyMayRun = false;
    for (Pending& pending : m_pending) {
        const bool download = mayRun(pending.download.id, pending.downloadSeen);
        const bool upload = pending.upload && mayRun(*pending.upload, pending.uploadSeen);
        anyMayRun = anyMayRun || download || upload;
    }
    if (anyMayRun || m_folderRemoved)
        return;
    // Nothing can write or read the folder any more: completed and canceled jobs stay so.
    QDir(m_folder).removeRecursively();
    m_folderRemoved = true;
    deleteLater();
}

} // namespace qb
