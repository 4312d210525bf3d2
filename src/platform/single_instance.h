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
// other's files. The copy is the process that holds one name in Linux's abstract socket
// namespace, made from the user id and the data folder's canonical path. The name lives in no
// folder, so no file system, owner, mode or cleanup can refuse it or leave it behind, and the
// kernel frees it the moment the process ends, however it ends. A later start, from any session
// of the user, finds the name taken, connects, and asks the copy of its own user to show its
// window. Lives on the thread that calls start().
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Running,    // this is the one copy (or the name is another user's): it runs
        HandedOver, // this user's copy runs and was asked to show its window
        NoAnswer,   // this user's copy holds the name but did not answer in time
    };

    // `folder`: the data folder the copy guards; created when missing.
    explicit SingleInstance(QString folder, QObject* parent = nullptr);
    // Frees the name: the process is done with the folder.
    ~SingleInstance() override;

    // Takes the name and starts taking requests, or hands over to the copy that holds it. Blocks
    // for up to `waitMs` while that copy is still starting (or two start at once) or still
    // quitting, which holds the name until its last save and can take a disk's ten seconds twice.
    Outcome start(int waitMs = 30'000);

    // The abstract socket name (without its leading NUL) of this user's copy guarding `folder`.
    static QByteArray socketName(const QString& folder);

signals:
    // Another start asked this copy to show its window.
    void showRequested();

private:
    enum class Ask { Shown, Gone, Foreign, Silent };

    bool bindName(int& error);
    // `*holder`: the process that holds the name, or, when it is Foreign, its user.
    Ask askRunningCopy(const QDeadlineTimer& deadline, long long* holder);
    void removeEarlierReleaseFiles() const;
    void stopAnswering();
    void acceptRequests();

    const QString m_folder;
    QByteArray m_name;
    OwnedDescriptor m_listener;
    QSocketNotifier* m_requests = nullptr;
};

} // namespace qb
