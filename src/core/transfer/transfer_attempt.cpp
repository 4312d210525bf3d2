#include "core/transfer/transfer_attempt.h"

#include "core/device/move_file_use_case.h"
#include "core/device/mtp_error.h"
#include "core/device/upload_file_use_case.h"
#include "core/transfer/download_target.h"

#include <QFile>
#include <QFileInfo>
#include <QFuture>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <optional>
#include <system_error>
#include <utility>

namespace qb {
namespace {

using Kind = TransferEndpoint::Kind;

// A source that can never be transferred: trying again cannot help.
struct NotAFile
{
    QString message;
};

// A move whose source the phone deleted while its answer was lost, and whose copy stands whole.
struct MoveAlreadyDone
{};

QString quoted(const QString& name)
{
    return QStringLiteral("\u201C") + name + QStringLiteral("\u201D");
}

// Why a local upload source is no file to send, or nothing when it is one. A source that cannot
// be read at all is left to the transfer, which reports the file system's own reason.
std::optional<QString> uploadRefusal(const QString& path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || S_ISREG(status.st_mode))
        return std::nullopt;
    const QString name = quoted(QFileInfo(path).fileName());
    if (S_ISDIR(status.st_mode))
        return name + QStringLiteral(" is a folder. Only files can be uploaded.");
    return name + QStringLiteral(" is not a regular file.");
}

bool isLocalFile(const TransferEndpoint& endpoint)
{
    return endpoint.kind == Kind::Local && endpoint.url.isLocalFile();
}

// Waits for a repository operation; its failure is rethrown with its own type.
void await(QFuture<void> future)
{
    future.waitForFinished();
    if (future.isCanceled())
        throw FileRepositoryError::transferCanceled();
}

template <typename T> T await(QFuture<T> future)
{
    future.waitForFinished();
    if (future.isCanceled() || future.resultCount() == 0)
        throw FileRepositoryError::transferCanceled();
    return future.result();
}

QString describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(std::move(error));
    } catch (const TransferError& e) {
        return e.localizedMessage;
    } catch (const std::system_error& e) {
        // Only a download writes to the computer's disk, and only a full one is thrown this way.
        return MTPError::downloadFailed(QString::fromLocal8Bit(e.code().message())).message();
    } catch (const FileRepositoryError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return FileRepositoryError::unknown(QStringLiteral("unknown error")).message();
    }
}

// Runs `work`; its failure becomes the result's error.
TransferAttempt::Result outcomeOf(const std::function<void()>& work)
{
    TransferAttempt::Result result;
    try {
        work();
        result.succeeded = true;
    } catch (const std::system_error& e) {
        result.errorMessage = describe(std::current_exception());
        result.retryable = e.code() != std::errc::no_space_on_device && e.code().value() != EDQUOT;
    } catch (const NotAFile& e) {
        result.errorMessage = e.message;
        result.retryable = false;
    } catch (const MTPError& e) {
        result.errorMessage = describe(std::current_exception());
        // Sent again at once, a file still being written would go out as whatever it holds
        // then; the user retries once it is saved.
        result.retryable = e.kind() != MTPError::Kind::SourceChanged;
    } catch (const FileRepositoryError& e) {
        result.errorMessage = e.message();
        // The phone keeps refusing a name its folder holds; nothing is ever replaced.
        result.retryable = e.kind() != FileRepositoryError::Kind::ItemAlreadyExists;
    } catch (...) {
        result.errorMessage = describe(std::current_exception());
    }
    return result;
}

} // namespace

TransferAttempt::TransferAttempt(Input input)
    : m_input(std::move(input)), m_recorder(std::make_shared<Recorder>())
{
    m_progress = [recorder = m_recorder, handler = m_input.progress](qint64 bytes, qint64 total) {
        {
            std::lock_guard lock(recorder->mutex);
            recorder->last = Report{bytes, total};
        }
        if (handler)
            handler(bytes, total);
    };
}

TransferAttempt::Result TransferAttempt::run()
{
    Result result = outcomeOf([this] { execute(); });
    if (result.succeeded) {
        result.skipped = m_skipped;
        result.toCommit = std::move(m_toCommit);
        result.fileSize = m_fileSize;
    }
    std::lock_guard lock(m_recorder->mutex);
    result.lastReport = m_recorder->last;
    return result;
}

TransferAttempt::Result TransferAttempt::commit(DownloadTarget& target)
{
    bool named = false;
    Result result = outcomeOf([&] { named = target.commit(false); });
    if (result.succeeded) {
        result.skipped = !named;
        if (named)
            result.fileSize = target.size();
    }
    return result;
}

void TransferAttempt::checkEndpoints(const TransferJob& job)
{
    const TransferEndpoint& source = job.source;
    const TransferEndpoint& destination = job.destination;
    switch (job.type) {
    case TransferType::Upload:
        if (!isLocalFile(source) || destination.kind != Kind::Android)
            throw TransferError{QStringLiteral("Invalid upload endpoints")};
        break;
    case TransferType::Download:
        if (source.kind != Kind::Android || !isLocalFile(destination))
            throw TransferError{QStringLiteral("Invalid download endpoints")};
        break;
    case TransferType::Move:
    case TransferType::Copy:
        // The repository works within one phone.
        if (source.kind != Kind::Android || destination.kind != Kind::Android ||
            source.deviceId != destination.deviceId || source.attachment != destination.attachment)
            throw TransferError{QStringLiteral("Invalid move/copy endpoints")};
        break;
    case TransferType::Delete:
        if (source.kind != Kind::Android)
            throw TransferError{QStringLiteral("Invalid delete endpoint")};
        break;
    case TransferType::CreateFolder:
        if (destination.kind != Kind::Android)
            throw TransferError{QStringLiteral("Invalid createFolder endpoint")};
        break;
    }
}

void TransferAttempt::execute()
{
    if (!m_input.provider)
        throw TransferError{QStringLiteral("No repository provider set")};
    const TransferJob& job = m_input.job;
    checkEndpoints(job);
    // Refused before the phone is asked to make room for it.
    if (job.type == TransferType::Upload) {
        if (const auto refusal = uploadRefusal(job.source.url.toLocalFile()))
            throw NotAFile{*refusal};
    }
    const bool onDestination =
        job.type == TransferType::Upload || job.type == TransferType::CreateFolder;
    const TransferEndpoint& phone = onDestination ? job.destination : job.source;
    const std::shared_ptr<FileRepository> repository =
        await(m_input.provider(phone.deviceId, phone.attachment));
    if (!repository)
        throw FileRepositoryError::deviceNotConnected();

    switch (job.type) {
    case TransferType::Download:
        download(repository);
        break;
    case TransferType::Upload:
        try {
            // What is sent is the file as it is now, measured before the send: one that grows
            // meanwhile still sends that much. libmtp's figures count its protocol overhead too.
            const QFileInfo file(job.source.url.toLocalFile());
            const std::optional<qint64> size =
                file.isFile() ? std::optional(file.size()) : std::nullopt;
            await(UploadFileUseCase(repository)
                      .execute(job.source.url.toLocalFile(), job.destination.path, m_progress));
            m_fileSize = size;
        } catch (const MTPError& e) {
            // The file was swapped for a folder or the like after the check above.
            if (e.kind() != MTPError::Kind::NotAFile)
                throw;
            const QString path = job.source.url.toLocalFile();
            throw NotAFile{uploadRefusal(path).value_or(quoted(QFileInfo(path).fileName()) +
                                                        QStringLiteral(" is not a regular file."))};
        }
        break;
    case TransferType::Move:
    case TransferType::Copy:
        moveOrCopy(repository);
        break;
    case TransferType::Delete:
        await(repository->deleteItem(job.source.path));
        break;
    case TransferType::CreateFolder:
        await(repository->createFolder(job.destination.name, job.destination.path));
        break;
    }
}

void TransferAttempt::download(const std::shared_ptr<FileRepository>& repository)
{
    const TransferJob& job = m_input.job;
    auto target =
        std::make_shared<DownloadTarget>(job.destination.url.toLocalFile(), job.source.name,
                                         m_input.overwriteRule, m_input.unfinishedDownloads);
    if (!target->prepare()) {
        m_skipped = true;
        return;
    }
    // A failure leaves nothing behind: the target's destructor removes the partial file.
    try {
        await(repository->downloadFile(job.source.path, target->temporaryPath(), m_progress));
    } catch (const MTPError& e) {
        if (e.kind() != MTPError::Kind::NotAFile)
            throw;
        throw NotAFile{quoted(job.source.name) +
                       QStringLiteral(" is a folder. Only files can be downloaded.")};
    }
    m_toCommit = std::move(target);
}

bool TransferAttempt::earlierCopyStands(const std::shared_ptr<FileRepository>& repository,
                                        const CopiedSource& copied)
{
    const TransferJob& job = m_input.job;
    // Asked anew, in a new session: since the copy was made, the copy may have been deleted and
    // the source edited, on the phone itself or through this application, and libmtp would
    // answer with what it read before.
    const auto couldNotCheck = [&](const std::exception_ptr& error) {
        return TransferError{
            QStringLiteral("Could not check %1 on the phone before deleting it: %2")
                .arg(quoted(job.source.name), describe(error))};
    };
    // The source, or none when the phone answers that it has no such object.
    std::exception_ptr missing;
    const auto readSource = [&]() -> std::optional<FileItem> {
        try {
            return await(repository->itemInfo(job.source.path));
        } catch (const MTPError& e) {
            if (e.kind() != MTPError::Kind::NoSuchObject)
                throw couldNotCheck(std::current_exception());
            missing = std::current_exception();
        } catch (...) {
            throw couldNotCheck(std::current_exception());
        }
        return std::nullopt;
    };
    try {
        await(repository->renewSession());
    } catch (...) {
        throw couldNotCheck(std::current_exception());
    }
    const std::optional<FileItem> source = readSource();
    const QString name = MoveFileUseCase::temporaryFileName(job.source.name);
    repository->forgetListing(job.destination.path);
    const QList<FileItem> entries = await(repository->listFiles(job.destination.path));
    const auto copy = std::ranges::find_if(
        entries, [&](const FileItem& entry) { return !entry.isDirectory && entry.name == name; });
    if (!source) {
        // The phone deleted the source and its answer was lost: the move is done when its copy
        // stands whole. Asked once more, so that a source read amiss is not taken for gone.
        if (copy != entries.end() && copied.size && copy->size == copied.size && !readSource())
            throw MoveAlreadyDone{};
        throw couldNotCheck(missing);
    }
    const bool unchanged =
        !(copied.size && source->size && *copied.size != *source->size) &&
        !(copied.modifiedAt && source->modifiedAt && *copied.modifiedAt != *source->modifiedAt);
    const std::optional<qint64> size = copied.size ? copied.size : source->size;
    if (copy == entries.end())
        return false;
    if (unchanged && (!size || copy->size == size))
        return true;
    // Copying again could not replace that file, and deleting the source would lose its
    // newer content: both stay for the user to sort out.
    throw TransferError{quoted(job.source.name) +
                        QStringLiteral(" was not deleted: it no longer matches its copy in the "
                                       "destination folder.")};
}

void TransferAttempt::moveOrCopy(const std::shared_ptr<FileRepository>& repository)
{
    const TransferJob& job = m_input.job;
    // The copy of an earlier attempt only stands in for the move while it still matches its
    // source; when it is gone, the whole move runs again.
    if (job.type == TransferType::Move && m_input.movedCopy) {
        try {
            if (earlierCopyStands(repository, *m_input.movedCopy)) {
                await(repository->deleteItem(job.source.path));
                return;
            }
        } catch (const MoveAlreadyDone&) {
            return;
        }
    }
    FileItem item;
    item.id = job.source.path;
    item.path = job.source.path;
    item.name = job.source.name;
    item.isDirectory = false;
    if (job.type == TransferType::Copy) {
        await(MoveFileUseCase(repository).execute(item, job.destination.path, true, m_progress));
        return;
    }
    // The move runs in two steps so that a failed deletion is retried alone: retrying the whole
    // move would put a second copy on the phone.
    try {
        await(repository->moveItem(job.source.path, job.destination.path));
        return;
    } catch (const FileRepositoryError& e) {
        if (e.kind() != FileRepositoryError::Kind::MoveNotSupported)
            throw;
    }
    // The source as it is copied, for a retry to compare with.
    const FileItem source = await(repository->itemInfo(job.source.path));
    await(MoveFileUseCase(repository).execute(item, job.destination.path, true, m_progress));
    if (m_input.onMoveCopy)
        m_input.onMoveCopy({source.size, source.modifiedAt});
    await(repository->deleteItem(job.source.path));
}

} // namespace qb
