#include "wifi/wifi_peer_registry.h"

#include "platform/app_paths.h"
#include "platform/local_files.h"
#include "platform/logger.h"

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <utility>

#include "wifi/wire_format.h"

namespace qb {

WiFiPeerRegistry::WiFiPeerRegistry(const QString& folder, QObject* parent)
    : QObject(parent), m_random([] { return QRandomGenerator::system()->generate64(); }),
      m_clock([] { return QDateTime::currentDateTimeUtc(); }), m_gate(this),
      m_writer(QDir(folder).filePath(kFileName), HistoryFileWriter::snapshotOf(m_peers),
               std::chrono::milliseconds(kTouchSaveIntervalMs))
{
    if (!LocalFiles::makeFolder(folder))
        Logger(QStringLiteral("WiFiAdvertiser"), true)
            .error(QStringLiteral("Could not create %1"), {folder});
    m_peers = m_writer.load<WiFiPeer>(&WiFiPeer::fromJson);
}

WiFiPeerRegistry::~WiFiPeerRegistry()
{
    shutdown();
}

WiFiPeerRegistry& WiFiPeerRegistry::shared()
{
    // Kept for the life of the process; connection threads may still hold it at exit.
    static WiFiPeerRegistry* const instance = [] {
        auto* registry = new WiFiPeerRegistry(AppPaths::dataFolder());
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, registry,
                             &WiFiPeerRegistry::shutdown);
        return registry;
    }();
    return *instance;
}

void WiFiPeerRegistry::setPeers(const QList<WiFiPeer>& peers)
{
    changePeers(peers);
}

void WiFiPeerRegistry::setSelectedPeerHost(const std::optional<QString>& host)
{
    if (m_selectedPeerHost == host)
        return;
    m_selectedPeerHost = host;
    emit selectedPeerHostChanged();
}

QUrl WiFiPeerRegistry::storeURL() const
{
    return QUrl::fromLocalFile(m_writer.path());
}

bool WiFiPeerRegistry::changePeers(QList<WiFiPeer> peers)
{
    if (m_peers == peers)
        return false;
    m_peers = std::move(peers);
    emit peersChanged();
    return true;
}

bool WiFiPeerRegistry::isLoopback(const QString& host)
{
    const QString lower = host.toLower();
    return lower == QLatin1String("127.0.0.1") || lower == QLatin1String("::1") ||
           lower == QLatin1String("localhost");
}

int WiFiPeerRegistry::indexOfHost(const QString& host) const
{
    for (int i = 0; i < m_peers.size(); ++i) {
        if (m_peers[i].host == host)
            return i;
    }
    return -1;
}

int WiFiPeerRegistry::indexOfToken(const QString& token) const
{
    for (int i = 0; i < m_peers.size(); ++i) {
        if (m_peers[i].token && constantTimeEquals(*m_peers[i].token, token))
            return i;
    }
    return -1;
}

int WiFiPeerRegistry::indexOfPhoneAt(const QString& host) const
{
    // The phone that last proved itself here; else, as after a restart, the one last seen here.
    const QString proven = m_provenAt.value(host);
    int latest = -1;
    for (int i = 0; i < m_peers.size(); ++i) {
        const WiFiPeer& peer = m_peers[i];
        if (peer.host != host || !peer.token)
            continue;
        if (!proven.isEmpty() && *peer.token == proven)
            return i;
        if (latest < 0 || peer.lastSeen > m_peers[latest].lastSeen)
            latest = i;
    }
    return latest;
}

std::optional<QString> WiFiPeerRegistry::phoneAt(const QString& host) const
{
    const int index = indexOfPhoneAt(host);
    return index < 0 ? std::nullopt : m_peers[index].token;
}

void WiFiPeerRegistry::touch(const QString& host, const std::optional<QString>& name,
                             const std::optional<QString>& token)
{
    if (isLoopback(host))
        return;
    QString effectiveName = name && !name->isEmpty() ? *name : kDefaultName;
    if (effectiveName.size() > kMaxNameLength)
        effectiveName.truncate(effectiveName.at(kMaxNameLength - 1).isHighSurrogate()
                                   ? kMaxNameLength - 1
                                   : kMaxNameLength);
    QList<WiFiPeer> peers = m_peers;
    int index = token ? indexOfToken(*token) : indexOfPhoneAt(host);
    if (index < 0) {
        // No paired phone: the address's unpaired record, made when the address has none. A token
        // that proves nobody speaks for no paired phone, though it comes from one's address.
        const auto unpaired = std::find_if(peers.cbegin(), peers.cend(), [&](const WiFiPeer& p) {
            return p.host == host && !p.token;
        });
        if (unpaired == peers.cend() && indexOfHost(host) >= 0)
            return;
        index = unpaired == peers.cend() ? -1 : int(unpaired - peers.cbegin());
    }
    if (index >= 0) {
        peers[index].name = effectiveName;
        peers[index].lastSeen = now();
    } else {
        const auto unpaired = std::count_if(peers.cbegin(), peers.cend(),
                                            [](const WiFiPeer& peer) { return !peer.token; });
        if (unpaired >= kMaxUnpairedPeers) {
            if (const int drop = unpairedPeerToDrop(peers); drop >= 0)
                peers.removeAt(drop);
        }
        peers.append(WiFiPeer{host, effectiveName, makePIN(m_random), std::nullopt, now()});
    }
    if (changePeers(std::move(peers)))
        m_writer.changed();
}

int WiFiPeerRegistry::unpairedPeerToDrop(const QList<WiFiPeer>& peers) const
{
    // The selected phone stays: its PIN is on screen. One not heard from for a while goes first,
    // the least recently seen. When every other one asked recently, new addresses are arriving in
    // a burst: the newest arrival goes, so that the phones that asked before it keep their PINs.
    int oldest = -1;
    int newest = -1;
    for (int i = 0; i < peers.size(); ++i) {
        if (peers[i].token || peers[i].host == m_selectedPeerHost)
            continue;
        if (oldest < 0 || peers[i].lastSeen < peers[oldest].lastSeen)
            oldest = i;
        newest = i; // the list is in order of first contact
    }
    if (oldest >= 0 && peers[oldest].lastSeen < now().addSecs(-kRecentPeerSeconds))
        return oldest;
    return newest;
}

bool WiFiPeerRegistry::isPaired(const QString& host) const
{
    for (const WiFiPeer& peer : m_peers) {
        if (peer.host == host && peer.token)
            return true;
    }
    return false;
}

bool WiFiPeerRegistry::constantTimeEquals(const QString& a, const QString& b)
{
    const QByteArray x = a.toUtf8();
    const QByteArray y = b.toUtf8();
    const qsizetype length = std::max(x.size(), y.size());
    unsigned difference = x.size() != y.size() ? 1 : 0;
    for (qsizetype i = 0; i < length; ++i) {
        const unsigned left = i < x.size() ? quint8(x[i]) : 0;
        const unsigned right = i < y.size() ? quint8(y[i]) : 0;
        difference |= left ^ right;
    }
    return difference == 0;
}

std::optional<QString> WiFiPeerRegistry::pair(const QString& host, const QString& pin)
{
    const int index = indexOfHost(host);
    if (index < 0 || !constantTimeEquals(m_peers[index].pin, pin))
        return std::nullopt;
    const QString token = wire::uuidText(QUuid::createUuid());
    QList<WiFiPeer> peers = m_peers;
    const std::optional<QString> previous = std::exchange(peers[index].token, token);
    changePeers(std::move(peers));
    m_provenAt.insert(host, token);
    if (previous)
        emit tokenReplaced(*previous, token);
    return token;
}

std::optional<QString> WiFiPeerRegistry::verifyPIN(const QString& host, const QString& pin)
{
    std::optional<QString> token = pair(host, pin);
    if (token)
        m_writer.writeNow();
    return token;
}

bool WiFiPeerRegistry::verifyToken(const QString& host, const QString& token)
{
    const int found = indexOfToken(token);
    if (found < 0)
        return false;
    const QString from = m_peers[found].host;
    // Lookups by host take the first peer: only if this one was it does its address's state
    // belong to it.
    const bool follows = from != host && indexOfHost(from) == found;
    QList<WiFiPeer> peers = m_peers;
    peers[found].host = host;
    peers[found].lastSeen = now();
    peers.removeIf([&host](const WiFiPeer& peer) { return peer.host == host && !peer.token; });

    // Both changes land before anyone is told, so no observer sees the selection on an address
    // that holds nobody.
    const bool peersDiffer = peers != m_peers;
    m_peers = std::move(peers);
    const bool selectionFollows = follows && m_selectedPeerHost == from;
    if (selectionFollows)
        m_selectedPeerHost = host;
    m_provenAt.insert(host, token);
    // A move is written at once; a check that only refreshes the time goes with the touches.
    if (from != host)
        m_writer.writeNow();
    else if (peersDiffer)
        m_writer.changed();
    if (from != host)
        emit phoneMoved(token, host);
    if (follows)
        emit peerMoved(from, host);
    if (peersDiffer)
        emit peersChanged();
    if (selectionFollows)
        emit selectedPeerHostChanged();
    return true;
}

void WiFiPeerRegistry::regeneratePIN(const QString& host)
{
    const int index = indexOfHost(host);
    if (index < 0)
        return;
    QList<WiFiPeer> peers = m_peers;
    const std::optional<QString> previous = std::exchange(peers[index].token, std::nullopt);
    peers[index].pin = makePIN(m_random);
    peers[index].lastSeen = now();
    changePeers(std::move(peers));
    m_writer.writeNow();
    if (previous)
        emit tokenReplaced(*previous, QString());
}

void WiFiPeerRegistry::remove(const QString& host)
{
    QList<WiFiPeer> peers = m_peers;
    peers.removeIf([&host](const WiFiPeer& peer) { return peer.host == host; });
    changePeers(std::move(peers));
    m_provenAt.remove(host);
    if (m_selectedPeerHost == host)
        setSelectedPeerHost(std::nullopt);
    m_writer.writeNow();
}

bool WiFiPeerRegistry::save(QDeadlineTimer deadline)
{
    return m_writer.flush(deadline);
}

void WiFiPeerRegistry::touchPeerOnMainActor(const QString& host, const std::optional<QString>& name,
                                            const std::optional<QString>& token)
{
    m_gate.post([this, host, name, token] { touch(host, name, token); });
}

void WiFiPeerRegistry::verifyPINOnMainActor(const QString& host, const QString& pin,
                                            QObject* context,
                                            std::function<void(std::optional<QString>)> done,
                                            int timeoutMs)
{
    using Reply = std::function<void(std::optional<QString>)>;
    m_gate.askLater<std::optional<QString>>(
        [this, host, pin](const Reply& reply) {
            const std::optional<QString> token = pair(host, pin);
            if (!token) {
                reply(std::nullopt);
                return;
            }
            // The phone keeps the token it is given: the file must hold it first, or a power cut
            // right after the answer would leave the phone paired with a token nobody knows. A
            // write that fails is logged; the pairing holds until the application ends.
            m_writer.writeNow([reply, token](bool) { reply(token); });
        },
        std::nullopt, context, std::move(done), timeoutMs);
}

void WiFiPeerRegistry::verifyTokenOnMainActor(const QString& host, const QString& token,
                                              QObject* context, std::function<void(bool)> done,
                                              int timeoutMs)
{
    m_gate.ask<bool>([this, host, token] { return verifyToken(host, token); }, false, context,
                     std::move(done), timeoutMs);
}

void WiFiPeerRegistry::shutdown()
{
    // The writer's timer and the list belong to the GUI thread: the last touches are handed over
    // there.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_writer.stale())
                m_writer.writeNow();
        },
        QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection);
}

QString WiFiPeerRegistry::makePIN(const RandomSource& random)
{
    // Lemire's multiply-and-reject: the high half of r * bound is uniform once the few low halves
    // that would over-represent some results are drawn again.
    constexpr quint64 bound = 1000000;
    constexpr quint64 threshold = (0 - bound) % bound; // (2^64 - bound) mod bound
    __extension__ typedef unsigned __int128 Wide;
    for (;;) {
        const Wide product = Wide(random()) * bound;
        if (quint64(product) >= threshold)
            return QStringLiteral("%1").arg(quint64(product >> 64), 6, 10, QLatin1Char('0'));
    }
}

} // namespace qb
