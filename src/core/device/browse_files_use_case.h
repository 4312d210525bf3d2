#pragma once

#include "core/device/file_repository.h"

#include <memory>

namespace qb {

// Holds the repository a folder view lists through; listing itself goes to the repository.
struct BrowseFilesUseCase
{
    std::shared_ptr<FileRepository> repository;
};

} // namespace qb
