#include "core/transfer/transfer_job_stream.h"

#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace qb {

void TransferJobStream::Inbox::offer(const QList<TransferJob>& jobs,
                                     const QList<TransferJob>& completed)
{
    std::lock_guard lock(m_mutex);
    if (!m_receiver)
        return;
    m_latest = jobs;
    m_completed.append(completed);
    if (m_deliveryPending)
        return;
    m_deliveryPending = true;
    // Posted under the lock: the receiver cannot finish its destructor meanwhile.
    QMetaObject::invokeMethod(
        m_receiver, [receiver = m_receiver] { receiver->m_inbox->deliver(); },
        Qt::QueuedConnection);
}

void TransferJobStream::Inbox::deliver()
{
    QList<TransferJob> jobs;
    QList<TransferJob> completed;
    {
        std::lock_guard lock(m_mutex);
        m_deliveryPending = false;
        jobs = std::exchange(m_latest, {});
        completed = std::exchange(m_completed, {});
    }
    // The receiver may be gone once the first signal's slots have run.
    QPointer<TransferJobStream> receiver(m_receiver);
    if (!completed.isEmpty())
        emit receiver->completed(completed);
    if (receiver)
        emit receiver->published(jobs);
}

TransferJobStream::TransferJobStream(QObject* parent)
    : QObject(parent), m_inbox(std::make_shared<Inbox>())
{
    m_inbox->m_receiver = this;
}

TransferJobStream::~TransferJobStream()
{
    std::lock_guard lock(m_inbox->m_mutex);
    m_inbox->m_receiver = nullptr;
    m_inbox->m_latest.clear();
    m_inbox->m_completed.clear();
}

} // namespace qb
