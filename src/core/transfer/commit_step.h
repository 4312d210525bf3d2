#pragma once

#include "core/transfer/transfer_attempt.h"

#include <chrono>
#include <functional>
#include <memory>
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

    static constexpr std::chrono::milliseconds defaultShutdownWait{10'000};

    explicit CommitStep(std::chrono::milliseconds shutdownWait = defaultShutdownWait);
    // Commits whatever was handed in before returning, waiting up to `shutdownWait` for it. A
    // disk that holds a flush up for longer is left to the step's thread, which goes on by itself
    // (calling `done` as ever): the files it has not renamed keep their temporary names meanwhile.
    ~CommitStep();
    CommitStep(const CommitStep&) = delete;
    CommitStep& operator=(const CommitStep&) = delete;

    void submit(std::shared_ptr<DownloadTarget> target, Done done);

    // Whether the thread of a step destroyed in this process is still committing; the process
    // then ends without waiting for it.
    static bool leftRunning();

private:
    struct State; // shared with the step's thread, which may outlive the step

    static void run(const std::shared_ptr<State>& state);

    std::chrono::milliseconds m_shutdownWait;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

} // namespace qb
