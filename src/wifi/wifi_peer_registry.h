#pragma once

#include "wifi/history_file_writer.h"
#include "wifi/main_thread_gate.h"
#include "wifi/wifi_peer.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>

namespace qb {

// Every phone that has spoken to the Wi-Fi server, in order of first contact, kept in
// "wifi_peers.json" in the given folder. The file is written by a thread of its own (see
// HistoryFileWriter), never by the GUI thread: pairing changes at once, the touches of a stream of
// requests at most once a second, and whatever is left at shutdown. A pairing is answered only
// once the disk holds its token. Requests cannot grow it without bound: names are cut to 128
// characters, and at most 64 unpaired peers are kept (paired ones always are). Which unpaired one
// makes room is chosen so that a burst of new addresses takes neither the selected phone nor
// those that asked in the minutes before it.
//
// An address may hold the records of two paired phones, when one took the other's old address.
// A request from there stands for the one that last proved its token there (phoneAt()); a request
// that carries a token stands for the phone holding it, wherever it comes from.
//
// Threads: the object lives on the GUI thread; everything except the three *OnMainActor bridges
// and shutdown() must be called there. The bridges are for the server's connection threads:
// touchPeerOnMainActor() is posted and returns at once; the two checks are posted too and answer
// on the asking connection's thread (see MainThreadGate::ask), with "no token" / false when the
// GUI thread has not taken them up in time. Posted work runs in posting order, so a request's
// touch is applied before the check the connection asks for after it.
class WiFiPeerRegistry : public QObject
{
    Q_OBJECT

public:
    using RandomSource = std::function<quint64()>; // uniformly distributed 64-bit values
    using Clock = std::function<QDateTime()>;

    static inline const QString kFileName = QStringLiteral("wifi_peers.json");
    static inline const QString kDefaultName = QStringLiteral("Android device");
    static constexpr qsizetype kMaxNameLength = 128;
    static constexpr int kMaxUnpairedPeers = 64;
    // An unpaired peer seen within this time outlasts a burst of new addresses arriving after it.
    static constexpr int kRecentPeerSeconds = 300;
    static constexpr int kTouchSaveIntervalMs = 1000;

    // Creates `folder` if needed (failure is only logged) and reads the file there.
    explicit WiFiPeerRegistry(const QString& folder, QObject* parent = nullptr);
    ~WiFiPeerRegistry() override;

    // The process-wide registry in the application's data folder: created on first use (on the GUI
    // thread) and kept until exit; its waiters are released when the application quits.
    static WiFiPeerRegistry& shared();

    QList<WiFiPeer> peers() const { return m_peers; }
    // Replaces the list (observers are told when it differs); not saved.
    void setPeers(const QList<WiFiPeer>& peers);
    std::optional<QString> selectedPeerHost() const { return m_selectedPeerHost; }
    void setSelectedPeerHost(const std::optional<QString>& host);
    QUrl storeURL() const;

    // Records that a request came from `host` (loop-back addresses are ignored): its name and
    // time go to the phone it stands for. With `token` (a reconnect's), that is the phone holding
    // it, and a token nobody holds changes no paired phone.
    void touch(const QString& host, const std::optional<QString>& name,
               const std::optional<QString>& token = std::nullopt);
    // Whether a peer with `host` holds a token.
    bool isPaired(const QString& host) const;
    // The token of the paired phone a request from `host` stands for; none when there is none.
    std::optional<QString> phoneAt(const QString& host) const;
    // The new token when `pin` is the PIN of the first peer with `host`.
    std::optional<QString> verifyPIN(const QString& host, const QString& pin);
    // Moves the peer holding `token` to `host`; false when no peer holds it. Unpaired records of
    // `host` go (they are this phone as the request's own touch recorded it), paired ones stay.
    // When the peer was the one its old address stood for, the selection follows it and
    // peerMoved() tells who else must; phoneMoved() tells of every move.
    bool verifyToken(const QString& host, const QString& token);
    // Unpairs the first peer with `host` and gives it a new PIN.
    void regeneratePIN(const QString& host);
    // Forgets every peer with `host` (and the selection, if it was that host).
    void remove(const QString& host);
    // Writes what is unwritten now and waits for the disk until `deadline`; false (logged) when
    // the file may not hold the list.
    bool save(QDeadlineTimer deadline = QDeadlineTimer(HistoryFileWriter::kFlushWait));

    // For the server's connection threads; `context` lives on the calling thread. A pairing's
    // token is answered once the file holds it (or its write failed, which is logged).
    void touchPeerOnMainActor(const QString& host, const std::optional<QString>& name,
                              const std::optional<QString>& token = std::nullopt);
    void verifyPINOnMainActor(const QString& host, const QString& pin, QObject* context,
                              std::function<void(std::optional<QString> token)> done,
                              int timeoutMs = MainThreadGate::kDefaultTimeoutMs);
    void verifyTokenOnMainActor(const QString& host, const QString& token, QObject* context,
                                std::function<void(bool ok)> done,
                                int timeoutMs = MainThreadGate::kDefaultTimeoutMs);

    // Hands what touches left unwritten to the writing thread, without waiting for it (save()
    // does). Any thread.
    void shutdown();

    // Six decimal digits drawn uniformly from 0..999999 without modulo bias.
    static QString makePIN(const RandomSource& random);
    // Equality whose time does not depend on where the texts differ: PINs and tokens.
    static bool constantTimeEquals(const QString& a, const QString& b);

    // Seams for tests.
    void setRandomSource(RandomSource random) { m_random = std::move(random); }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    QString setAsidePath() const { return m_writer.setAsidePath(); }
    // Why the file is left as it is and nothing is saved over it in this run; empty when it is not.
    QString fileProblem() const { return m_writer.problem(); }

signals:
    // Emitted before peersChanged() and selectedPeerHostChanged() of the same move, with the
    // peers and the selection already at `to`: what is keyed by the phone's address follows it.
    void peerMoved(const QString& from, const QString& to);
    // Emitted at every change of a paired phone's address, before peerMoved(): what is kept for
    // the phone itself (by its token) follows it, whoever else its old address stands for.
    void phoneMoved(const QString& token, const QString& to);
    // Emitted when a phone's token stops working because its record was paired anew (`to`, the
    // new token) or given a new PIN (`to` empty): what was kept for it now belongs to the phone
    // that pairs with that record, which stays at its address until then.
    void tokenReplaced(const QString& from, const QString& to);
    void peersChanged();
    void selectedPeerHostChanged();

private:
    static bool isLoopback(const QString& host);
    int indexOfHost(const QString& host) const;
    int indexOfToken(const QString& token) const;
    int indexOfPhoneAt(const QString& host) const;
    int unpairedPeerToDrop(const QList<WiFiPeer>& peers) const;
    bool changePeers(QList<WiFiPeer> peers);
    // Gives the first peer with `host` a new token when `pin` is its PIN; the file is not written.
    std::optional<QString> pair(const QString& host, const QString& pin);
    QDateTime now() const { return m_clock(); }

    QList<WiFiPeer> m_peers;
    std::optional<QString> m_selectedPeerHost;
    // Which phone (by token) last proved itself at each address, in this run.
    QHash<QString, QString> m_provenAt;
    RandomSource m_random;
    Clock m_clock;
    MainThreadGate m_gate;
    // Declared after the list it snapshots: destroyed (and flushed) first.
    HistoryFileWriter m_writer;
};

} // namespace qb
