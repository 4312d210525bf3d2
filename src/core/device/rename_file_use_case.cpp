#include "core/device/rename_file_use_case.h"

#include "platform/futures.h"

namespace qb {

RenameFileUseCase::RenameFileUseCase(std::shared_ptr<FileRepository> repository)
    : repository(std::move(repository))
{}

QFuture<void> RenameFileUseCase::execute(const FileItem& item, const QString& newName)
{
    if (newName.isEmpty())
        return readyFuture();
    return repository->renameItem(item.path, newName);
}

} // namespace qb
