#include "browsing/phone_file_actions.h"

#include "platform/app_paths.h"
#include "platform/preference_store.h"

namespace qb::PhoneFileActions {

QList<TransferJob> downloadJobs(const QString& deviceId, const QList<FileItem>& items,
                                const QString& folder, quint64 attachment)
{
    QList<TransferJob> jobs;
    if (deviceId.isEmpty())
        return jobs;
    jobs.reserve(items.size());
    const QUrl destination = QUrl::fromLocalFile(folder);
    for (const FileItem& item : items) {
        jobs.append(
            TransferJob::make(TransferType::Download,
                              TransferEndpoint::android(deviceId, item.path, item.name, attachment),
                              TransferEndpoint::local(destination), item.size.value_or(0)));
    }
    return jobs;
}

QList<TransferJob> deleteJobs(const QString& deviceId, const QList<FileItem>& items,
                              quint64 attachment)
{
    QList<TransferJob> jobs;
    if (deviceId.isEmpty())
        return jobs;
    jobs.reserve(items.size());
    for (const FileItem& item : items) {
        const TransferEndpoint endpoint =
            TransferEndpoint::android(deviceId, item.path, item.name, attachment);
        jobs.append(TransferJob::make(TransferType::Delete, endpoint, endpoint));
    }
    return jobs;
}

std::optional<TransferJob> createFolderJob(const QString& deviceId, const QString& folderPath,
                                           const QString& name, quint64 attachment)
{
    if (deviceId.isEmpty() || folderPath.isEmpty() || name.isEmpty())
        return std::nullopt;
    const TransferEndpoint endpoint =
        TransferEndpoint::android(deviceId, folderPath, name, attachment);
    return TransferJob::make(TransferType::CreateFolder, endpoint, endpoint);
}

QString downloadFolder(const PreferenceStore* preferences)
{
    if (preferences) {
        const std::optional<QString> stored = preferences->text(QStringLiteral("downloadFolder"));
        if (stored && !stored->isEmpty())
            return *stored;
    }
    return AppPaths::downloadsFolder();
}

bool touchesDevice(const QList<TransferJob>& finished, const QString& deviceId)
{
    if (deviceId.isEmpty())
        return false;
    for (const TransferJob& job : finished) {
        if (job.status != TransferStatus::Completed)
            continue;
        if (job.destination.kind == TransferEndpoint::Kind::Android &&
            job.destination.deviceId == deviceId)
            return true;
        if (job.source.kind == TransferEndpoint::Kind::Android && job.source.deviceId == deviceId)
            return true;
    }
    return false;
}

Content chooseContent(bool forceGuide, bool hasDevice, bool hasWiFiPeer, bool hasStorage)
{
    if (forceGuide && !hasDevice)
        return Content::SetupGuide;
    if (!hasDevice)
        return hasWiFiPeer ? Content::WiFiPhone : Content::SetupGuide;
    if (!hasStorage)
        return Content::NoStorage;
    return Content::Files;
}

} // namespace qb::PhoneFileActions
