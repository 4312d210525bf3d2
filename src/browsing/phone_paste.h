#pragma once

#include "core/device/device_model.h"
#include "core/transfer/transfer_job.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QUuid>

namespace qb {

class TransferQueueViewModel;

// Copies phone files into a folder of another (or the same) phone through the computer: each
// file is downloaded into a fresh folder of its own under the user's cache folder, and only
// once that download has completed is the upload of the saved file queued, under the name the
// download really saved. The folder goes away when every job has finished. Folders are skipped.
// The object watches the queue until its jobs have left it, then deletes itself.
class PhonePaste : public QObject
{
    Q_OBJECT

public:
    struct Target
    {
        QString deviceId;
        QString folderPath;
    };

    // Starts at once: the downloads are queued as one batch. Returns null when there is no
    // file to copy or no temporary folder could be made.
    static PhonePaste* start(TransferQueueViewModel& queue, const QList<FileItem>& items,
                             const QString& sourceDeviceId, const Target& target,
                             QObject* parent = nullptr);

    QString folder() const { return m_folder; }
    QList<TransferJob> downloads() const;

    // The job that uploads the file one download saved (tests call it).
    static TransferJob uploadJob(const TransferJob& download, const QString& savedPath,
                                 const Target& target);

signals:
    void finished();

private:
    struct Pending
    {
        TransferJob download;
        QString savedPath;
        std::optional<QUuid> upload;
        // Jobs reach the published list some time after they were queued; until a job has
        // been seen there it counts as unfinished, and once seen, leaving the list ends it.
        bool downloadSeen = false;
        bool uploadSeen = false;
    };

    PhonePaste(TransferQueueViewModel& queue, QString folder, Target target, QObject* parent);
    void update();

    TransferQueueViewModel& m_queue;
    QString m_folder;
    Target m_target;
    QList<Pending> m_pending;
    bool m_folderRemoved = false;
};

} // namespace qb
