#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QDeadlineTimer;
class QSocketNotifier;

namespace qb {

// Owns one file descriptor.
class OwnedDescriptor
{
public:
    explicit OwnedDescriptor(int fd = -1) : m_fd(fd) {}
    OwnedDescriptor(OwnedDescriptor&& other) noexcept : m_fd(other.release()) {}
    OwnedDescriptor& operator=(OwnedDescriptor&& other) noexcept;
    ~OwnedDescriptor();
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();

private:
    int m_fd;
};

// One running copy per user and data folder: two copies would each write their own lists over the
// other's files. The first start holds an advisory lock on a file in the data folder for its whole
// run (the kernel drops it when the process ends, however it ends) and listens on a local socket
// in that folder; a later start, from any session of the user, finds the lock held and asks the
// running copy, through that socket, to show its window. Who made the lock file (another user, as
// in a run under sudo, or another machine, as in a restored backup) never matters: only whether a
// live process holds it. Lives on the thread that calls start().
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
    // Stops taking requests, then releases the lock: the process is done with the folder.
    ~SingleInstance() override;

    // Takes the lock and starts taking requests, or hands over to the copy that holds it. Blocks
    // for up to `waitMs` while that copy is still starting (or two start at once) or still
    // quitting, which can take a disk's ten seconds. A folder where no lock can be made at all
    // leaves this copy running, as before, and says why in the log.
    Outcome start(int waitMs = 15'000);

    // The local socket of the copy guarding `folder`, inside that folder: only the folder and the
    // user decide where starts meet, whatever session each comes from.
    static QString socketPath(const QString& folder);

signals:
    // Another start asked this copy to show its window.
    void showRequested();

private:
    enum class Lock { Taken, Held, Retry, Failed };

    Lock takeLock();
    Lock replaceUnwritableLock(const QByteArray& path);
    bool askRunningCopy(const QDeadlineTimer& deadline);
    void listen();
    void stopListening();
    void acceptRequests();

    const QString m_folder;
    OwnedDescriptor m_lock;
    // The folder, kept open when its path is too long for a socket address.
    OwnedDescriptor m_folderHandle;
    OwnedDescriptor m_listener;
    QByteArray m_listenerAddress;
    QSocketNotifier* m_requests = nullptr;
    bool m_warnedOtherUser = false;
};

} // namespace qb
