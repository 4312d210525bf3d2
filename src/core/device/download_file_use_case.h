#pragma once

#include "core/device/file_repository.h"

#include <memory>

namespace qb {

// Holds the repository downloads come from; the transfer engine performs them.
struct DownloadFileUseCase
{
    std::shared_ptr<FileRepository> repository;
};

} // namespace qb
