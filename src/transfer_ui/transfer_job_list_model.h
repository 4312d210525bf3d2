#pragma once

#include "core/transfer/transfer_job.h"

#include <QAbstractListModel>
#include <QList>

namespace qb {

// The jobs of the transfer queue, one row each in queue order. Each publication of the engine's
// list is applied as a diff by job id: rows of jobs that left are removed, new jobs inserted,
// and a job whose shown fields changed is signalled in place, so that the view keeps its scroll
// position, its current row and the row's open controls.
class TransferJobListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        JobRole = Qt::UserRole + 1, // the whole TransferJob
        IdRole,                     // its id (QUuid)
    };

    explicit TransferJobListModel(QObject* parent = nullptr);

    void setJobs(const QList<TransferJob>& jobs);
    const QList<TransferJob>& jobs() const { return m_jobs; }
    // The row of a job, or -1.
    int rowOf(const QUuid& id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    void refreshRow(int row, const TransferJob& job, int& changedFirst, int& changedLast);
    void removeMissing(const QList<TransferJob>& jobs);
    void insertRun(int row, const QList<TransferJob>& jobs, int first, int last);
    void flushChanged(int& first, int& last);

    QList<TransferJob> m_jobs;
};

} // namespace qb
