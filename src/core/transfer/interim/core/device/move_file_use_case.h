#pragma once

#include "core/device/file_repository.h"

#include <QFuture>
#include <QString>

#include <memory>

namespace qb {

// Moves or copies a phone file within its phone: asks the repository to move first, and when it
// cannot, copies through a private temporary folder (download, upload, then delete for a move).
// Folders are refused.
class MoveFileUseCase
{
public:
    explicit MoveFileUseCase(std::shared_ptr<FileRepository> repository);

    QFuture<void> execute(const FileItem& item, const QString& destinationFolderPath, bool isCopy,
                          ProgressFn progress);

    // The name the item's temporary copy gets: one path component, never "." or "..".
    static QString temporaryFileName(const QString& itemName);

    std::shared_ptr<FileRepository> repository;
};

} // namespace qb
