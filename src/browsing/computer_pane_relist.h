#pragma once

#include "core/transfer/transfer_job.h"
#include "wifi/received_file.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <functional>

namespace qb {

class ReceivedFilesRegistry;
class TransferQueueViewModel;

// A folder as it can be compared: its canonical path, or its cleaned absolute path when it does
// not exist; empty for an empty path.
QString comparableFolder(const QString& path);
// Whether the job put a file into the folder (given in comparable form), or into a folder of
// it: a completed download. No other kind of job writes on this computer.
bool jobWroteInto(const TransferJob& job, const QString& comparable);
bool receivedInto(const ReceivedFile& file, const QString& comparable);

// Tells the computer pane to list its folder again when this application has put a file there:
// a download from a phone, or a file a phone sent over Wi-Fi. Changes by other programs are not
// followed. A burst of files makes one relisting: the first one waits a quarter second, and those
// that come meanwhile add nothing.
//
// Whether a file went into the folder shown is decided off the GUI thread: comparing folders asks
// the file system, and the folder shown may sit on a mount that stopped answering. One check runs
// at a time for the folder shown; files that come meanwhile wait for the next.
class FolderRelistTrigger : public QObject
{
    Q_OBJECT

public:
    // `folder` gives the folder shown. Either source may be absent.
    FolderRelistTrigger(TransferQueueViewModel* transfers, ReceivedFilesRegistry* received,
                        std::function<QString()> folder, QObject* parent = nullptr);

    // A relisting is due.
    bool isPending() const { return m_delay.isActive(); }
    // Whether files that came went into the folder shown is being found out.
    bool isChecking() const { return m_checking; }

signals:
    void relistDue();

private:
    void jobsCompleted(const QList<TransferJob>& jobs);
    void receivedChanged();
    void startCheck();
    void request();

    ReceivedFilesRegistry* m_received;
    std::function<QString()> m_folder;
    QUuid m_latestReceived; // the newest record already looked at
    QTimer m_delay;
    bool m_checking = false;
    QString m_checkedFolder;       // the folder shown when the check under way started
    quint64 m_checkGeneration = 0; // only the newest check's answer counts
    QList<TransferJob> m_jobsToCheck;
    QList<ReceivedFile> m_filesToCheck;
};

} // namespace qb
