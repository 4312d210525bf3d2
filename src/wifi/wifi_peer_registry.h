#pragma once

#include "wifi/json_array_file.h"
#include "wifi/main_thread_gate.h"
#include "wifi/wifi_peer.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>

namespace qb {

// Every phone that has spoken to the Wi-Fi server, in order of first contact, kept in
// "wifi_peers.json" in the given folder. Pairing changes are written at once; the touches of a
// stream of requests at most once a second, and whatever is left at shutdown. Requests cannot
// grow it without bound: names are cut to 128 characters, and at most 64 unpaired peers are kept
// (paired ones always are). Which unpaired one makes room is chosen so that a burst of new
// addresses takes neither the selected phone nor those that asked in the minutes before it.
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

    // Records that a request came from `host` (loop-back addresses are ignored).
    void touch(const QString& host, const std::optional<QString>& name);
    // Whether a peer with `host` holds a token.
    bool isPaired(const QString& host) const;
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
    // Writes the whole list; false (logged) when the file keeps its previous content.
    bool save();

    // For the server's connection threads; `context` lives on the calling thread.
    void touchPeerOnMainActor(const QString& host, const std::optional<QString>& name);
    void verifyPINOnMainActor(const QString& host, const QString& pin, QObject* context,
                              std::function<void(std::optional<QString> token)> done,
                              int timeoutMs = MainThreadGate::kDefaultTimeoutMs);
    void verifyTokenOnMainActor(const QString& host, const QString& token, QObject* context,
                                std::function<void(bool ok)> done,
                                int timeoutMs = MainThreadGate::kDefaultTimeoutMs);

    // Writes what touches left unwritten. Any thread.
    void shutdown();

    // Six decimal digits drawn uniformly from 0..999999 without modulo bias.
    static QString makePIN(const RandomSource& random);
    // Equality whose time does not depend on where the texts differ: PINs and tokens.
    static bool constantTimeEquals(const QString& a, const QString& b);

    // Seams for tests.
    void setRandomSource(RandomSource random) { m_random = std::move(random); }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    QString setAsidePath() const { return m_file.setAsidePath(); }
    // Why the file is left as it is and nothing is saved over it in this run; empty when it is not.
    QString fileProblem() const { return m_file.problem(); }

signals:
    // Emitted before peersChanged() and selectedPeerHostChanged() of the same move, with the
    // peers and the selection already at `to`: what is keyed by the phone's address follows it.
    void peerMoved(const QString& from, const QString& to);
    // Emitted at every change of a paired phone's address, before peerMoved(): what is kept for
    // the phone itself (by its token) follows it, whoever else its old address stands for.
    void phoneMoved(const QString& token, const QString& to);
    void peersChanged();
    void selectedPeerHostChanged();

private:
    static bool isLoopback(const QString& host);
    int indexOfHost(const QString& host) const;
    int unpairedPeerToDrop(const QList<WiFiPeer>& peers) const;
    void changePeers(QList<WiFiPeer> peers);
    void saveTouches();
    QDateTime now() const { return m_clock(); }

    JsonArrayFile m_file;
    QList<WiFiPeer> m_peers;
    std::optional<QString> m_selectedPeerHost;
    RandomSource m_random;
    Clock m_clock;
    MainThreadGate m_gate;
    QTimer m_touchSave;
    QElapsedTimer m_sinceSave; // since the last successful save
};

} // namespace qb
