#include "browsing/drop_decisions.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>

#include <algorithm>

namespace qb {

namespace {

// A dropped URL that names something that exists here, with the name it goes under.
struct LocalItem
{
    QUrl url;
    QString name;
    qint64 size = 0;
};

std::optional<LocalItem> localItem(const QUrl& url)
{
    if (!url.isValid() || !url.isLocalFile())
        return std::nullopt;
    // File managers hand folders with a trailing slash; the name is the last real component.
    const QString path = QDir::cleanPath(url.toLocalFile());
    const QFileInfo info(path);
    if (path.isEmpty() || !QFileInfo::exists(path) || info.fileName().isEmpty())
        return std::nullopt;
    const QUrl clean = QUrl::fromLocalFile(path);
    return LocalItem{clean, info.fileName(), fileSize(clean).value_or(0)};
}

// Each dropped computer item that exists becomes an upload into the phone's folder.
void appendUploads(DropPlan& plan, const QList<QUrl>& urls, const QString& deviceId,
                   const QString& folderPath, quint64 attachment)
{
    for (const QUrl& url : urls) {
        const std::optional<LocalItem> item = localItem(url);
        if (!item)
            continue;
        plan.jobs.append(TransferJob::make(
            TransferType::Upload, TransferEndpoint::local(item->url),
            TransferEndpoint::android(deviceId, folderPath, item->name, attachment), item->size));
        ++plan.showQueueRequests;
    }
}

} // namespace

DropContent DropContent::from(const QMimeData& data)
{
    DropContent content;
    if (data.hasUrls())
        content.urls = data.urls();
    if (data.hasFormat(PhoneItemTransferable::mimeType))
        content.phoneItems = PhoneItemTransferable::fromMimeData(data);
    return content;
}

bool DropContent::hasFileUrls() const
{
    return std::ranges::any_of(urls, [](const QUrl& url) { return url.isLocalFile(); });
}

bool isCopyModifier(Qt::KeyboardModifiers modifiers)
{
    return modifiers & (Qt::AltModifier | Qt::ControlModifier);
}

bool phonePaneAccepts(const PhoneDropTarget& target, const DropContent& content)
{
    if (target.deviceId.isEmpty() || target.folderPath.isEmpty())
        return false;
    return content.hasFileUrls() || !content.phoneItems.isEmpty();
}

DropPlan planPhonePaneDrop(const PhoneDropTarget& target, const DropContent& content, bool copy)
{
    DropPlan plan;
    if (target.deviceId.isEmpty() || target.folderPath.isEmpty())
        return plan;
    appendUploads(plan, content.urls, target.deviceId, target.folderPath, target.attachment);
    for (const PhoneItemTransferable& payload : content.phoneItems) {
        const FileItem& item = payload.fileItem;
        // An item of an earlier phone with the same id is of another phone too.
        if (payload.deviceId != target.deviceId || payload.attachment != target.attachment) {
            if (item.isDirectory) {
                plan.refusals.append(
                    QObject::tr("The folder “%1” is on another phone. Folders can't be copied "
                                "between phones; copy its files instead.")
                        .arg(item.name));
            } else {
                plan.crossPhoneCopies.append(payload);
                plan.targetDeviceId = target.deviceId;
                plan.targetFolderPath = target.folderPath;
                plan.targetAttachment = target.attachment;
            }
            continue;
        }
        if (payload.sourceFolderPath == target.folderPath)
            continue;
        plan.jobs.append(TransferJob::make(
            copy ? TransferType::Copy : TransferType::Move,
            TransferEndpoint::android(target.deviceId, item.path, item.name, target.attachment),
            TransferEndpoint::android(target.deviceId, target.folderPath, item.name,
                                      target.attachment),
            item.size.value_or(0)));
    }
    return plan;
}

bool computerPaneAccepts(const ComputerDropTarget& target, const DropContent& content)
{
    if (!content.phoneItems.isEmpty())
        return true;
    return content.hasFileUrls() && target.deviceId && !target.deviceId->isEmpty() &&
           target.storagePath && !target.storagePath->isEmpty();
}

DropPlan planComputerPaneDrop(const ComputerDropTarget& target, const DropContent& content)
{
    DropPlan plan;
    if (target.folderPath.isEmpty())
        return plan;
    const QUrl folder = QUrl::fromLocalFile(target.folderPath);
    for (const PhoneItemTransferable& payload : content.phoneItems) {
        const FileItem& item = payload.fileItem;
        plan.jobs.append(TransferJob::make(
            TransferType::Download,
            TransferEndpoint::android(payload.deviceId, item.path, item.name, payload.attachment),
            TransferEndpoint::local(folder), item.size.value_or(0)));
        ++plan.showQueueRequests;
    }
    if (!target.deviceId || !target.storagePath || target.deviceId->isEmpty() ||
        target.storagePath->isEmpty())
        return plan;
    appendUploads(plan, content.urls, *target.deviceId, *target.storagePath, target.attachment);
    return plan;
}

} // namespace qb
