#pragma once

#include "core/device/file_repository.h"
#include "core/transfer/overwrite_rule.h"
#include "core/transfer/transfer_job.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace qb {

class DownloadTarget;
class UnfinishedDownloads;

// One execution of a job's operation. It runs on a worker thread of the engine's pool, waits
// for the repository in turn for each step, and never throws: every failure becomes its result.
class TransferAttempt
{
public:
    struct Report
    {
        qint64 bytes = 0;
        qint64 total = 0;
    };

    struct Result
    {
        bool succeeded = false;
        bool skipped = false; // a download the overwrite rule left alone
        QString errorMessage;
        bool retryable = true; // false for a full disk: trying again cannot help
        // A download whose file is whole but not committed yet: the engine's commit step names it.
        std::shared_ptr<DownloadTarget> toCommit;
        std::optional<qint64> fileSize;   // of a file downloaded or uploaded: the job's final count
        std::optional<Report> lastReport; // the operation's final figures, gate or not
    };

    // A move's source as it was when its copy was made.
    struct CopiedSource
    {
        std::optional<qint64> size;
        std::optional<QDateTime> modifiedAt;
    };

    struct Input
    {
        TransferJob job;
        RepositoryProvider provider; // empty: none installed yet
        OverwriteRule overwriteRule = OverwriteRule::Ask;
        // Where a download lists its temporary file until it is committed; none when null.
        std::shared_ptr<UnfinishedDownloads> unfinishedDownloads;
        // A move whose copy was made by an earlier attempt: its source is only deleted now if
        // that copy is still there and the source unchanged.
        std::optional<CopiedSource> movedCopy;
        ProgressFn progress;                                 // the job's rate-gated handler
        std::function<void(const CopiedSource&)> onMoveCopy; // a move's copy is in place
    };

    explicit TransferAttempt(Input input);

    Result run();

    // The engine's own endpoint checks; throws TransferError with the failing rule's text.
    static void checkEndpoints(const TransferJob& job);
    // Commits a finished download without flushing its folder. Never throws.
    static Result commit(DownloadTarget& target);

private:
    void execute();
    void download(const std::shared_ptr<FileRepository>& repository);
    void moveOrCopy(const std::shared_ptr<FileRepository>& repository);
    // Whether a move's earlier copy is still in the destination and its source unchanged; false
    // when no file of its name is there. Throws TransferError when one is there but either side
    // has changed, and a mark of its own when the source is gone and its copy stands whole (the
    // move is done).
    bool earlierCopyStands(const std::shared_ptr<FileRepository>& repository,
                           const CopiedSource& copied);
    struct Recorder
    {
        std::mutex mutex;
        std::optional<Report> last;
    };

    Input m_input;
    // Shared with the handler given to the repository, which may outlive a failed wait.
    std::shared_ptr<Recorder> m_recorder;
    ProgressFn m_progress;
    bool m_skipped = false;
    std::shared_ptr<DownloadTarget> m_toCommit;
    std::optional<qint64> m_fileSize;
};

} // namespace qb
