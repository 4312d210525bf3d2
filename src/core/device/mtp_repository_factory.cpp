#include "core/device/mtp_repository_factory.h"

#include "core/device/mtp_file_repository.h"
#include "platform/futures.h"

namespace qb {

MTPRepositoryFactory::MTPRepositoryFactory(MTPClient::Options options)
    : m_options(std::move(options))
{}

QFuture<std::shared_ptr<FileRepository>> MTPRepositoryFactory::open(const QString& deviceId)
{
    return thenSync(
        MTPFileRepository::create(deviceId, m_options),
        [](std::shared_ptr<MTPFileRepository> repository) -> std::shared_ptr<FileRepository> {
            return repository;
        });
}

QFuture<QList<StorageRoot>>
MTPRepositoryFactory::storageRoots(const std::shared_ptr<FileRepository>& repository)
{
    if (const auto mtp = std::dynamic_pointer_cast<MTPFileRepository>(repository)) {
        return mtp->storageRoots();
    }
    return QtFuture::makeReadyFuture(QList<StorageRoot>());
}

} // namespace qb
