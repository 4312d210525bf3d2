#include "core/transfer/commit_step.h"

#include "core/transfer/download_target.h"
#include "platform/local_files.h"

#include <QSet>

#include <utility>

namespace qb {

CommitStep::CommitStep() : m_thread([this] { run(); }) {}

CommitStep::~CommitStep()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void CommitStep::submit(std::shared_ptr<DownloadTarget> target, Done done)
{
    {
        const std::lock_guard lock(m_mutex);
        m_pending.append({std::move(target), std::move(done)});
    }
    m_wake.notify_one();
}

void CommitStep::run()
{
    for (;;) {
        QList<Pending> round;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_pending.isEmpty(); });
            if (m_pending.isEmpty())
                return; // stopping, and nothing left
            round.swap(m_pending);
        }
        commitRound(round);
    }
}

void CommitStep::commitRound(const QList<Pending>& round)
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

} // namespace qb
