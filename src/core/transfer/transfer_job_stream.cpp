#include "core/transfer/transfer_job_stream.h"

#include <QMetaObject>

#include <utility>

namespace qb {

void TransferJobStream::Inbox::offer(const QList<TransferJob>& jobs)
{
    std::lock_guard lock(m_mutex);
    if (!m_receiver)
        return;
    m_latest = jobs;
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
    {
        std::lock_guard lock(m_mutex);
        m_deliveryPending = false;
        jobs = std::exchange(m_latest, {});
    }
    emit m_receiver->published(jobs);
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
}

} // namespace qb
