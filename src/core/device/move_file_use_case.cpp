#include "core/device/move_file_use_case.h"

#include "platform/local_files.h"

#include <QFileInfo>
#include <QPromise>
#include <QThreadPool>

#include <exception>

namespace qb {

namespace {

// Like QtConcurrent::run, but the failure keeps its own type instead of being wrapped.
template <typename F> QFuture<void> runInPool(F work)
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, work = std::move(work)]() mutable {
        try {
            work();
        } catch (...) {
            promise->setException(std::current_exception());
        }
        promise->finish();
    });
    return future;
}

bool isMoveNotSupported(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const FileRepositoryError& e) {
        return e.kind() == FileRepositoryError::Kind::MoveNotSupported;
    } catch (...) {
        return false;
    }
}

} // namespace

MoveFileUseCase::MoveFileUseCase(std::shared_ptr<FileRepository> repository)
    : repository(std::move(repository))
{}

QString MoveFileUseCase::temporaryFileName(const QString& itemName)
{
    // The name comes from the phone: it must not climb out of the temporary folder.
    return LocalFiles::singleComponent(itemName, QStringLiteral("item"));
}

QFuture<void> MoveFileUseCase::execute(const FileItem& item, const QString& destinationFolderPath,
                                       bool isCopy, ProgressFn progress)
{
    // Each step waits for the repository in turn; the waiting happens on a pool thread.
    return runInPool(
        [repo = repository, item, destinationFolderPath, isCopy, progress = std::move(progress)] {
            if (!isCopy) {
                QFuture<void> moved = repo->moveItem(item.path, destinationFolderPath);
                std::exception_ptr error;
                try {
                    moved.waitForFinished();
                    return;
                } catch (...) {
                    error = std::current_exception();
                }
                if (!isMoveNotSupported(error))
                    std::rethrow_exception(error);
            }
            if (item.isDirectory)
                throw FileRepositoryError::moveNotSupported();

            // Under the cache folder: the system's temporary folder is often too small.
            const LocalFiles::TemporaryFolder temporary;
            if (!temporary.isValid())
                throw FileRepositoryError::unknown(
                    QStringLiteral("Could not create a temporary folder for the copy"));
            const QString localFile = temporary.filePath(temporaryFileName(item.name));

            repo->downloadFile(item.path, localFile, progress).waitForFinished();
            repo->uploadFile(localFile, destinationFolderPath, progress).waitForFinished();
            // The last figures libmtp gave count its protocol's overhead; the copy is the file.
            if (progress) {
                const qint64 size = QFileInfo(localFile).size();
                progress(size, size);
            }
            if (!isCopy)
                repo->deleteItem(item.path).waitForFinished();
        });
}

} // namespace qb
