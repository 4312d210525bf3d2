#include "core/device/upload_file_use_case.h"

#include "platform/futures.h"

#include <QFileInfo>

namespace qb {

UploadFileUseCase::UploadFileUseCase(std::shared_ptr<FileRepository> repository)
    : repository(std::move(repository))
{}

QFuture<void> UploadFileUseCase::execute(const QString& localFilePath,
                                         const QString& destinationFolderPath, ProgressFn progress)
{
    if (!QFileInfo::exists(localFilePath))
        return failedFuture<void>(FileRepositoryError::itemNotFound(localFilePath));
    return repository->uploadFile(localFilePath, destinationFolderPath, std::move(progress));
}

} // namespace qb
