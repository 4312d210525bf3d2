#pragma once

#include "wifi/main_thread_gate.h"
#include "wifi/pending_outgoing_file.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <chrono>
#include <functional>
#include <optional>

namespace qb {

// Files offered to phones over Wi-Fi, in enqueue order; memory only, empty at every start.
//
// Threads: the object lives on the GUI thread; the operations in the first group are called there
// (by the interface). The bridges in the second group may be called from any thread (the server's
// connection threads) and take the id as the text the phone sent (not a UUID: ignored). The
// reports are posted and return at once, applied in posting order. The three questions are posted
// too and answer on the asking connection's thread (see MainThreadGate::ask), with false / an
// empty list / no file when the GUI thread has not taken them up in time.
class PendingOutgoingFilesRegistry : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // Runs `task` on this object's thread after `delay` (a single-shot timer by default).
    using Scheduler =
        std::function<void(std::chrono::milliseconds delay, std::function<void()> task)>;

    static constexpr std::chrono::milliseconds kCompletedRemovalDelay{1500};
    static constexpr std::chrono::milliseconds kFailedRemovalDelay{3000};
    // Asked on the GUI thread with each "/pending" list and "/download" lookup: the token of the
    // paired phone the request stands for, none when it stands for no paired phone (which is then
    // shown no file at all).
    using AskingPhone = std::function<std::optional<QString>()>;

    explicit PendingOutgoingFilesRegistry(QObject* parent = nullptr);

    // The process-wide queue: created on first use (on the GUI thread) and kept until exit.
    static PendingOutgoingFilesRegistry& shared();

    // --- GUI thread ---
    QList<PendingOutgoingFile> files() const { return m_files; }
    void setFiles(const QList<PendingOutgoingFile>& files); // observers told when it differs
    QSet<QUuid> cancelledIDs() const { return m_cancelledIDs; }

    // `recipientToken` names the phone (by the token it paired with) so that its files follow it
    // to a new address; a file queued without one stays at its address.
    void enqueue(const QUrl& url, const QString& recipientHost,
                 const QString& recipientToken = QString());
    void cancel(const QUuid& id);
    QList<PendingOutgoingFile> filesFor(const QString& host) const;
    std::optional<PendingOutgoingFile> file(const QString& idString) const;
    void updateStatus(const QUuid& id, SendStatus status);
    void updateProgress(const QUuid& id, qint64 sentBytes);
    void remove(const QUuid& id);
    void clearCancellation(const QUuid& id);
    // Re-addresses every file queued for the phone holding `token` (whatever its status) to `to`:
    // that phone now answers there. Files queued for other phones at its old address stay.
    void followPhone(const QString& token, const QString& to);
    // The files queued for the phone holding `from` are for the phone holding `to` from now on;
    // with `to` empty, for whichever paired phone asks from their address, as files queued
    // without a phone are.
    void passOnFiles(const QString& from, const QString& to);
    // The "/pending" list of the phone holding `phoneToken` at `host`, and the file a "/download"
    // of `idString` by it may fetch. A file queued for a phone is that phone's wherever it asks
    // from; one queued without a phone is its address's.
    QList<OfferedFile> offeredTo(const QString& host, const QString& phoneToken = QString()) const;
    std::optional<QUrl> downloadURL(const QString& idString, const QString& host,
                                    const QString& phoneToken = QString()) const;

    // --- any thread ---
    void markSending(const QString& idString);
    void updateProgress(const QString& idString, qint64 sentBytes);
    void clearCancellation(const QString& idString);
    // Removed 1.5 s (3 s) later, unless by then a new fetch has changed the status.
    void markCompleted(const QString& idString);
    void markFailed(const QString& idString);
    // `context` lives on the calling thread; `done` runs there.
    void isCancelled(const QString& idString, QObject* context,
                     std::function<void(bool cancelled)> done,
                     int timeoutMs = MainThreadGate::kDefaultTimeoutMs);
    void listForHostTask(const QString& host, AskingPhone phone, QObject* context,
                         std::function<void(QList<OfferedFile>)> done,
                         int timeoutMs = MainThreadGate::kDefaultTimeoutMs);
    void downloadURLTask(const QString& idString, const QString& host, AskingPhone phone,
                         QObject* context, std::function<void(std::optional<QUrl>)> done,
                         int timeoutMs = MainThreadGate::kDefaultTimeoutMs);

    // Seams for tests.
    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setScheduler(Scheduler scheduler) { m_scheduler = std::move(scheduler); }

signals:
    void filesChanged();
    void cancelledIDsChanged();

private:
    int indexOf(const QUuid& id) const;
    bool isFor(const PendingOutgoingFile& file, const QString& host,
               const QString& phoneToken) const;
    void changeFiles(QList<PendingOutgoingFile> files);
    void forgetTokensOfRemovedFiles();
    void removeIfStill(const QUuid& id, SendStatus status);
    void finishAndRemoveLater(const QString& idString, SendStatus status,
                              std::chrono::milliseconds delay);

    QList<PendingOutgoingFile> m_files;
    QSet<QUuid> m_cancelledIDs;
    // Which phone each file was queued for, by its token; never saved, like the list.
    QHash<QUuid, QString> m_recipientTokens;
    Clock m_clock;
    Scheduler m_scheduler;
    MainThreadGate m_gate;
};

} // namespace qb
