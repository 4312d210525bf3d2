#include "transfer_ui/transfer_job_list_model.h"

#include "transfer_ui/transfer_job_row.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <utility>

namespace qb {

namespace {

// The fields a row shows; a change elsewhere (retry count, destination) is stored silently.
bool sameShown(const TransferJob& a, const TransferJob& b)
{
    const bool sameError = a.error.has_value() == b.error.has_value() &&
                           (!a.error || a.error->localizedMessage == b.error->localizedMessage);
    return a.type == b.type && a.status == b.status && a.progress == b.progress &&
           a.bytesTransferred == b.bytesTransferred && a.totalBytes == b.totalBytes &&
           a.source == b.source && sameError && a.transferSpeed == b.transferSpeed;
}

} // namespace

TransferJobListModel::TransferJobListModel(QObject* parent) : QAbstractListModel(parent)
{
    m_clock.start();
}

void TransferJobListModel::setJobs(const QList<TransferJob>& jobs)
{
    m_rowsToAnnounce.clear();
    applyJobs(jobs);
    // Rows are announced once the list is whole again, so that each reads its new texts.
    for (int row : std::exchange(m_rowsToAnnounce, {}))
        emit rowAnnounced(row);
}

void TransferJobListModel::remember(const TransferJob& job)
{
    m_announced.insert(job.id, {job.status, errorText(job), job.progress, m_clock.elapsed()});
}

bool TransferJobListModel::announcementDue(const TransferJob& job)
{
    Announced& last = m_announced[job.id];
    const qint64 now = m_clock.elapsed();
    const bool newState = job.status != last.status || errorText(job) != last.error;
    const bool newProgress =
        showsProgressSection(job.status) && job.progress != last.progress &&
        (std::abs(job.progress - last.progress) >= announcedProgressStep - 1e-9 ||
         now - last.atMs >= announcedProgressIntervalMs);
    if (!newState && !newProgress)
        return false;
    last = {job.status, errorText(job), job.progress, now};
    return true;
}

void TransferJobListModel::applyJobs(const QList<TransferJob>& jobs)
{
    int changedFirst = -1;
    int changedLast = -1;
    // Usually the rows are the start of the new list (progress, status changes, new jobs).
    const qsizetype shared = std::min(m_jobs.size(), jobs.size());
    qsizetype common = 0;
    while (common < shared && m_jobs.at(common).id == jobs.at(common).id)
        ++common;
    if (common == m_jobs.size()) {
        for (int row = 0; row < common; ++row)
            refreshRow(row, jobs.at(row), changedFirst, changedLast);
        flushChanged(changedFirst, changedLast);
        if (jobs.size() > common)
            insertRun(int(common), jobs, int(common), int(jobs.size()) - 1);
        return;
    }

    removeMissing(jobs);
    QSet<QUuid> present;
    present.reserve(m_jobs.size());
    for (const TransferJob& job : std::as_const(m_jobs))
        present.insert(job.id);
    int row = 0;
    while (row < jobs.size()) {
        const TransferJob& job = jobs.at(row);
        if (row < m_jobs.size() && m_jobs.at(row).id == job.id) {
            refreshRow(row, job, changedFirst, changedLast);
            ++row;
            continue;
        }
        flushChanged(changedFirst, changedLast);
        const int from = present.contains(job.id) ? rowOf(job.id) : -1;
        if (from > row) {
            // The engine keeps its order; a job found further down is moved up, not re-added.
            beginMoveRows({}, from, from, {}, row);
            m_jobs.move(from, row);
            endMoveRows();
            continue;
        }
        int last = row;
        while (last + 1 < jobs.size() && !present.contains(jobs.at(last + 1).id))
            ++last;
        insertRun(row, jobs, row, last);
        row = last + 1;
    }
    flushChanged(changedFirst, changedLast);
}

void TransferJobListModel::refreshRow(int row, const TransferJob& job, int& changedFirst,
                                      int& changedLast)
{
    if (!sameShown(m_jobs.at(row), job)) {
        // Rows already refreshed keep their place through the rest of the publication: moves
        // and insertions happen only at or below the row being refreshed.
        if (announcementDue(job))
            m_rowsToAnnounce.append(row);
        if (changedFirst >= 0 && changedLast != row - 1)
            flushChanged(changedFirst, changedLast);
        if (changedFirst < 0)
            changedFirst = row;
        changedLast = row;
    }
    m_jobs[row] = job;
}

int TransferJobListModel::rowOf(const QUuid& id) const
{
    for (int row = 0; row < m_jobs.size(); ++row) {
        if (m_jobs.at(row).id == id)
            return row;
    }
    return -1;
}

void TransferJobListModel::removeMissing(const QList<TransferJob>& jobs)
{
    QSet<QUuid> wanted;
    wanted.reserve(jobs.size());
    for (const TransferJob& job : jobs)
        wanted.insert(job.id);
    for (int last = int(m_jobs.size()) - 1; last >= 0; --last) {
        if (wanted.contains(m_jobs.at(last).id))
            continue;
        int first = last;
        while (first > 0 && !wanted.contains(m_jobs.at(first - 1).id))
            --first;
        beginRemoveRows({}, first, last);
        for (int gone = first; gone <= last; ++gone)
            m_announced.remove(m_jobs.at(gone).id);
        m_jobs.remove(first, last - first + 1);
        endRemoveRows();
        last = first;
    }
}

void TransferJobListModel::insertRun(int row, const QList<TransferJob>& jobs, int first, int last)
{
    beginInsertRows({}, row, row + last - first);
    const QList<TransferJob> run = jobs.sliced(first, last - first + 1);
    for (const TransferJob& job : run)
        remember(job);
    if (row == m_jobs.size())
        m_jobs.append(run);
    else
        m_jobs = m_jobs.first(row) + run + m_jobs.sliced(row);
    endInsertRows();
}

void TransferJobListModel::flushChanged(int& first, int& last)
{
    if (first < 0)
        return;
    emit dataChanged(index(first), index(last));
    first = last = -1;
}

int TransferJobListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_jobs.size());
}

QVariant TransferJobListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TransferJob& job = m_jobs.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return sourceName(job);
    case Qt::AccessibleTextRole:
        return accessibleRowName(job);
    case Qt::AccessibleDescriptionRole:
        return accessibleRowDescription(job);
    case JobRole:
        return QVariant::fromValue(job);
    case IdRole:
        return job.id;
    default:
        return {};
    }
}

QHash<int, QByteArray> TransferJobListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(JobRole, "job");
    names.insert(IdRole, "jobId");
    return names;
}

} // namespace qb
