#include "browsing/phone_paste.h"

#include "core/transfer/download_target.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "platform/local_files.h"

#include <QDir>

namespace qb {

PhonePaste::PhonePaste(TransferQueueViewModel& queue, QString folder, Target target,
                       QObject* parent)
    : QObject(parent), m_queue(queue), m_folder(std::move(folder)), m_target(std::move(target))
{
    connect(&queue, &TransferQueueViewModel::jobsChanged, this, &PhonePaste::update);
}

PhonePaste* PhonePaste::start(TransferQueueViewModel& queue, const QList<FileItem>& items,
                              const QString& sourceDeviceId, const Target& target, QObject* parent)
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
            TransferType::Download, TransferEndpoint::android(sourceDeviceId, item.path, item.name),
            TransferEndpoint::local(QUrl::fromLocalFile(fileFolder)), item.size.value_or(0));
        const QString saved =
            fileFolder + QLatin1Char('/') + DownloadTarget::safeLocalName(item.name);
        paste->m_pending.append({download, saved, std::nullopt});
        downloads.append(download);
    }
    queue.enqueue(downloads);
    return paste;
}

QList<TransferJob> PhonePaste::downloads() const
{
    QList<TransferJob> jobs;
    for (const Pending& pending : m_pending)
        jobs.append(pending.download);
    return jobs;
}

TransferJob PhonePaste::uploadJob(const TransferJob& download, const QString& savedPath,
                                  const Target& target)
{
    const QString savedName = savedPath.section(QLatin1Char('/'), -1);
    return TransferJob::make(
        TransferType::Upload, TransferEndpoint::local(QUrl::fromLocalFile(savedPath)),
        TransferEndpoint::android(target.deviceId, target.folderPath, savedName),
        download.totalBytes);
}

void PhonePaste::update()
{
    QHash<QUuid, TransferStatus> status;
    for (const TransferJob& job : m_queue.jobs())
        status.insert(job.id, job.status);

    // A job counts as finished once it has finished, or left the list after it was seen there.
    auto finishedJob = [&status](const QUuid& id, bool& seen) {
        const auto it = status.constFind(id);
        if (it == status.constEnd())
            return seen;
        seen = true;
        return isFinished(*it);
    };

    bool allFinished = true;
    bool anyListed = false;
    for (Pending& pending : m_pending) {
        const TransferStatus download = status.value(pending.download.id, TransferStatus::Canceled);
        // Queued only now: the upload must never read a file still being written.
        if (status.contains(pending.download.id) && download == TransferStatus::Completed &&
            !pending.upload) {
            const TransferJob upload = uploadJob(pending.download, pending.savedPath, m_target);
            pending.upload = upload.id;
            m_queue.enqueue(upload);
        }
        anyListed = anyListed || status.contains(pending.download.id);
        if (!finishedJob(pending.download.id, pending.downloadSeen))
            allFinished = false;
        if (pending.upload) {
            anyListed = anyListed || status.contains(*pending.upload);
            if (!finishedJob(*pending.upload, pending.uploadSeen))
                allFinished = false;
        }
    }
    if (allFinished && !m_folderRemoved) {
        QDir(m_folder).removeRecursively();
        m_folderRemoved = true;
        emit finished();
    } else if (!allFinished) {
        // A download retried after the folder went away writes it again.
        m_folderRemoved = false;
    }
    if (!anyListed && m_folderRemoved)
        deleteLater();
}

} // namespace qb
