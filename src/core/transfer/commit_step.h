#pragma once

#include "core/transfer/transfer_attempt.h"

#include <QList>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qb {

class DownloadTarget;

// Gives finished downloads their final names on a thread of its own, so that a transfer slot is
// free for the next file while the disk catches up. Each round takes everything handed in since
// the last one, in order: every file is flushed and renamed, then every folder that got a new name
// is flushed once for all of them. A download is done only when its round has ended; `done` then
// gets its outcome, on the step's thread.
class CommitStep
{
public:
    using Done = std::function<void(const TransferAttempt::Result&)>;

    CommitStep();
    // Commits whatever was handed in before returning: a whole file is never given up.
    ~CommitStep();
    CommitStep(const CommitStep&) = delete;
    CommitStep& operator=(const CommitStep&) = delete;

    void submit(std::shared_ptr<DownloadTarget> target, Done done);

private:
    struct Pending
    {
        std::shared_ptr<DownloadTarget> target;
        Done done;
    };

    void run();
    static void commitRound(const QList<Pending>& round);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    QList<Pending> m_pending;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace qb
