#pragma once

#include "core/transfer/transfer_job.h"

#include <QList>
#include <QObject>

#include <memory>
#include <mutex>

namespace qb {

// The receiving end of the engine's publications. It lives on the thread that made it and
// emits each published job list there. Lists that arrive faster than that thread takes them
// are merged: only the newest is delivered, since every list is the whole list. Completions are
// never merged away: every job that completed since the last delivery is handed over with it,
// even when the newest list no longer holds it (cleared meanwhile).
class TransferJobStream : public QObject
{
    Q_OBJECT

public:
    // The sending side, shared with the engine; safe to use from any thread, and harmless
    // after the stream is gone.
    class Inbox
    {
    public:
        // `completed`: the jobs (as they stood then) that completed since the last offer.
        void offer(const QList<TransferJob>& jobs, const QList<TransferJob>& completed = {});

    private:
        friend class TransferJobStream;
        void deliver();

        std::mutex m_mutex;
        TransferJobStream* m_receiver = nullptr;
        QList<TransferJob> m_latest;
        QList<TransferJob> m_completed;
        bool m_deliveryPending = false;
    };

    explicit TransferJobStream(QObject* parent = nullptr);
    ~TransferJobStream() override;

    std::shared_ptr<Inbox> inbox() const { return m_inbox; }

signals:
    // Emitted before the `published` of the same delivery.
    void completed(const QList<TransferJob>& jobs);
    void published(const QList<TransferJob>& jobs);

private:
    std::shared_ptr<Inbox> m_inbox;
};

} // namespace qb
