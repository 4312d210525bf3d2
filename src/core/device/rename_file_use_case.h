#pragma once

#include "core/device/file_repository.h"

#include <QFuture>
#include <QString>

#include <memory>

namespace qb {

// Renames a phone item. An empty name changes nothing; a refusal is passed on unchanged.
class RenameFileUseCase
{
public:
    explicit RenameFileUseCase(std::shared_ptr<FileRepository> repository);

    QFuture<void> execute(const FileItem& item, const QString& newName);

    std::shared_ptr<FileRepository> repository;
};

} // namespace qb
