#pragma once

#include "core/transfer/transfer_job.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QHash>
#include <QList>

namespace qb {

// The jobs of the transfer queue, one row each in queue order. Each publication of the engine's
// list is applied as a diff by job id: rows of jobs that left are removed, new jobs inserted,
// and a job whose shown fields changed is signalled in place, so that the view keeps its scroll
// position, its current row and the row's open controls.
//
// A row whose spoken texts changed enough to be worth saying again is announced after the
// publication: at once when its status or error changes, and while it runs every tenth of the
// way or every five seconds, whichever comes first, never on each progress report.
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

    static constexpr double announcedProgressStep = 0.1;
    static constexpr qint64 announcedProgressIntervalMs = 5000;

signals:
    // The row's accessible name or description now says something new (see above).
    void rowAnnounced(int row);

private:
    // What a row last said, to tell whether a change is worth saying.
    struct Announced
    {
        TransferStatus status = TransferStatus::Queued;
        QString error;
        double progress = 0;
        qint64 atMs = 0;
    };

    void applyJobs(const QList<TransferJob>& jobs);
    void remember(const TransferJob& job);
    bool announcementDue(const TransferJob& job);
    void refreshRow(int row, const TransferJob& job, int& changedFirst, int& changedLast);
    void removeMissing(const QList<TransferJob>& jobs);
    void insertRun(int row, const QList<TransferJob>& jobs, int first, int last);
    void flushChanged(int& first, int& last);

    QList<TransferJob> m_jobs;
    QHash<QUuid, Announced> m_announced;
    QList<int> m_rowsToAnnounce;
    QElapsedTimer m_clock;
};

} // namespace qb
