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
// once the engine reports that download completed is the upload of the saved file queued. The
// file keeps its own name on the target phone, whatever the download had to make of it locally.
// The folder stays while any of its jobs can still run or be retried, and goes once none can.
// The object watches the queue until its jobs have left it, then deletes itself. Folders are
// skipped.
class PhonePaste : public QObject
{
    Q_OBJECT

public:
    // A phone by its id and attachment (Device::attachment), and a folder on it.
    struct Target
    {
        QString deviceId;
        QString folderPath;
        quint64 attachment = 0;
    };

    // Starts at once: the downloads are queued as one batch. Returns null when there is no
    // file to copy or no temporary folder could be made. The items are of the phone with
    // `sourceDeviceId` as it was attached when they were copied (`sourceAttachment`).
    static PhonePaste* start(TransferQueueViewModel& queue, const QList<FileItem>& items,
                             const QString& sourceDeviceId, quint64 sourceAttachment,
                             const Target& target, QObject* parent = nullptr);

private:
    struct Pending
    {
        TransferJob download;
        QString name; // the item's own name on its phone
        QString savedPath;
        std::optional<QUuid> upload;
        // Jobs reach the published list some time after they were queued; until a job has
        // been seen there it counts as able to run, and once seen, leaving the list ends it.
        bool downloadSeen = false;
        bool uploadSeen = false;
    };

    PhonePaste(TransferQueueViewModel& queue, QString folder, Target target, QObject* parent);
    void downloadsCompleted(const QList<TransferJob>& jobs);
    void update();

    TransferQueueViewModel& m_queue;
    QString m_folder;
    Target m_target;
    QList<Pending> m_pending;
    QHash<QUuid, qsizetype> m_byDownload;
    bool m_folderRemoved = false;
};

} // namespace qb
