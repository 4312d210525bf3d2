#pragma once

#include "core/device/file_repository.h"

#include <QFuture>
#include <QString>

#include <memory>

namespace qb {

// Uploads a local file into a phone folder, failing with itemNotFound when the file is gone.
class UploadFileUseCase
{
public:
    explicit UploadFileUseCase(std::shared_ptr<FileRepository> repository);

    QFuture<void> execute(const QString& localFilePath, const QString& destinationFolderPath,
                          ProgressFn progress);

    std::shared_ptr<FileRepository> repository;
};

} // namespace qb
