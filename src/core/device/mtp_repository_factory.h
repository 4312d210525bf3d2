#pragma once

#include "core/device/mtp_client.h"
#include "core/device/repository_factory.h"

namespace qb {

// Opens MTPFileRepository instances, each with its own client.
class MTPRepositoryFactory : public RepositoryFactory
{
public:
    explicit MTPRepositoryFactory(MTPClient::Options options);

    QFuture<std::shared_ptr<FileRepository>> open(const QString& deviceId) override;
    QFuture<QList<StorageRoot>>
    storageRoots(const std::shared_ptr<FileRepository>& repository) override;

private:
    MTPClient::Options m_options;
};

} // namespace qb
