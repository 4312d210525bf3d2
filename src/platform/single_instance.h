#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QDeadlineTimer;
class QLocalServer;
class QLockFile;

namespace qb {

// One running copy per user and data folder: two copies would each write their own lists over the
// other's files. The first start holds a lock file in the data folder and listens on a local
// socket of its own; a later start finds the lock held and asks the running copy, through that
// socket, to show its window. A lock whose process has gone (a crash, a kill) is taken over.
// Lives on the GUI thread.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Running,    // this is the one copy: it holds the lock and takes requests
        HandedOver, // another copy runs and was asked to show its window
        NoAnswer,   // another copy holds the lock but did not answer in time
    };

    // `folder`: the data folder the copy guards; created when missing.
    explicit SingleInstance(QString folder, QObject* parent = nullptr);
    // Releases the lock: the process is done with the folder.
    ~SingleInstance() override;

    // Takes the lock and starts taking requests, or hands over to the copy that holds it. Blocks
    // for up to `waitMs` while that copy is still starting (or two start at once) or still
    // quitting, which can take a disk's ten seconds. A folder where no lock can be made at all
    // leaves this copy running, as before, and says why in the log.
    Outcome start(int waitMs = 15'000);

    // The local socket of the copy guarding `folder`: in the user's runtime folder, named after
    // the folder, so copies with other data folders never meet.
    static QString serverName(const QString& folder);

signals:
    // Another start asked this copy to show its window.
    void showRequested();

private:
    bool askRunningCopy(const QDeadlineTimer& deadline) const;
    void listen();
    void acceptRequests();

    const QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};

} // namespace qb
