#include "core/transfer/commit_step.h"

#include "core/transfer/download_target.h"
#include "platform/local_files.h"
#include "platform/logger.h"

#include <QList>
#include <QSet>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace qb {

namespace {

struct Pending
{
    std::shared_ptr<DownloadTarget> target;
    CommitStep::Done done;
};

// Threads of destroyed steps that had not finished when their step stopped waiting.
std::atomic<int> s_leftRunning{0};

void commitRound(const QList<Pending>& round);

} // namespace

struct CommitStep::State
{
    std::mutex mutex;
    std::condition_variable wake; // work or stopping for the thread; its end for the destructor
    QList<Pending> pending;
    bool stopping = false;
    bool finished = false;
    bool leftBehind = false;
};

CommitStep::CommitStep(std::chrono::milliseconds shutdownWait)
    : m_shutdownWait(shutdownWait), m_state(std::make_shared<State>()),
      m_thread([state = m_state] { run(state); })
{}

CommitStep::~CommitStep()
{
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->wake.notify_all();
    if (m_state->wake.wait_for(lock, m_shutdownWait, [this] { return m_state->finished; })) {
        lock.unlock();
        m_thread.join();
        return;
    }
    // A flush that does not return must not keep the caller (and the process) waiting for ever;
    // the files of the round keep their temporary names until it does, so none is partial.
    m_state->leftBehind = true;
    ++s_leftRunning;
    lock.unlock();
    m_thread.detach();
    Logger::transfer().warning(QStringLiteral("Downloads still being written to disk at shutdown"));
}

bool CommitStep::leftRunning()
{
    return s_leftRunning > 0;
}

void CommitStep::submit(std::shared_ptr<DownloadTarget> target, Done done)
{
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->pending.append({std::move(target), std::move(done)});
    }
    m_state->wake.notify_all();
}

void CommitStep::run(const std::shared_ptr<State>& state)
{
    for (;;) {
        QList<Pending> round;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] { return state->stopping || !state->pending.isEmpty(); });
            if (state->pending.isEmpty()) {
                // Stopping, and nothing left.
                state->finished = true;
                if (state->leftBehind)
                    --s_leftRunning;
                state->wake.notify_all();
                return;
            }
            round.swap(state->pending);
        }
        commitRound(round);
    }
}

namespace {

void commitRound(const QList<Pending>& round)
{
    QList<TransferAttempt::Result> outcomes;
    outcomes.reserve(round.size());
    QSet<QString> folders;
    for (const Pending& pending : round) {
        outcomes.append(TransferAttempt::commit(*pending.target));
        if (outcomes.last().succeeded && !outcomes.last().skipped)
            folders.insert(pending.target->folderPath());
    }
    // The files are whole and named by now; a folder that cannot be flushed only risks the names
    // after a power cut, which is no reason to fetch the files again.
    for (const QString& folder : std::as_const(folders))
        LocalFiles::syncFolder(folder);
    for (qsizetype i = 0; i < round.size(); ++i) {
        if (!outcomes.at(i).succeeded)
            round.at(i).target->discard(); // gone before the job is told
        if (round.at(i).done)
            round.at(i).done(outcomes.at(i));
    }
}

} // namespace

} // namespace qb
