#pragma once

#include "core/device/file_repository.h"
#include "platform/futures.h"

namespace qb::bench {

// A phone that answers every call at once: listings with `items`, every change and transfer
// done. Benches override the calls whose timing they control.
class InstantRepository : public FileRepository
{
public:
    QList<FileItem> items;

    QFuture<QList<FileItem>> listFiles(const QString&) override { return readyFuture(items); }
    QFuture<FileItem> itemInfo(const QString&) override { return readyFuture(FileItem{}); }
    QFuture<void> downloadFile(const QString&, const QString&, ProgressFn) override
    {
        return readyFuture();
    }
    QFuture<void> uploadFile(const QString&, const QString&, ProgressFn) override
    {
        return readyFuture();
    }
    QFuture<void> createFolder(const QString&, const QString&) override { return readyFuture(); }
    QFuture<void> deleteItem(const QString&) override { return readyFuture(); }
    QFuture<void> renameItem(const QString&, const QString&) override { return readyFuture(); }
    QFuture<void> moveItem(const QString&, const QString&) override { return readyFuture(); }
};

} // namespace qb::bench
