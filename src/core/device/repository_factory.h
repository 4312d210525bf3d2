#pragma once

#include "core/device/device_model.h"
#include "core/device/file_repository.h"

#include <QFuture>
#include <QList>

#include <memory>

namespace qb {

// How the device list opens a phone's repository and reads its storages.
class RepositoryFactory
{
public:
    virtual ~RepositoryFactory() = default;
    // Opens the phone with this id; fails with the opening error.
    virtual QFuture<std::shared_ptr<FileRepository>> open(const QString& deviceId) = 0;
    // The storages of a repository this factory opened (empty for a repository without any).
    virtual QFuture<QList<StorageRoot>>
    storageRoots(const std::shared_ptr<FileRepository>& repository) = 0;
};

} // namespace qb
