#include "wifi/wifi_peer_registry.h"

#include "platform/app_paths.h"
#include "platform/logger.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QUuid>

#include "wifi/wire_format.h"

namespace qb {

WiFiPeerRegistry::WiFiPeerRegistry(const QString& folder, QObject* parent)
    : QObject(parent), m_file(QDir(folder).filePath(kFileName)),
      m_random([] { return QRandomGenerator::system()->generate64(); }),
      m_clock([] { return QDateTime::currentDateTimeUtc(); }), m_gate(this)
{
    if (!QDir().mkpath(folder))
        Logger(QStringLiteral("WiFiAdvertiser"), true)
            .error(QStringLiteral("Could not create %1"), {folder});
    m_peers = m_file.load<WiFiPeer>(&WiFiPeer::fromJson);
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
    return QUrl::fromLocalFile(m_file.path());
}

void WiFiPeerRegistry::changePeers(QList<WiFiPeer> peers)
{
    if (m_peers == peers)
        return;
    m_peers = std::move(peers);
    emit peersChanged();
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

void WiFiPeerRegistry::touch(const QString& host, const std::optional<QString>& name)
{
    if (isLoopback(host))
        return;
    const QString effectiveName = name && !name->isEmpty() ? *name : kDefaultName;
    QList<WiFiPeer> peers = m_peers;
    const int index = indexOfHost(host);
    if (index >= 0) {
        peers[index].name = effectiveName;
        peers[index].lastSeen = now();
    } else {
        peers.append(WiFiPeer{host, effectiveName, makePIN(m_random), std::nullopt, now()});
    }
    changePeers(std::move(peers));
    save();
}

std::optional<QString> WiFiPeerRegistry::verifyPIN(const QString& host, const QString& pin)
{
    const int index = indexOfHost(host);
    if (index < 0 || m_peers[index].pin != pin)
        return std::nullopt;
    const QString token = wire::uuidText(QUuid::createUuid());
    QList<WiFiPeer> peers = m_peers;
    peers[index].token = token;
    changePeers(std::move(peers));
    save();
    return token;
}

bool WiFiPeerRegistry::verifyToken(const QString& host, const QString& token)
{
    for (int i = 0; i < m_peers.size(); ++i) {
        if (m_peers[i].token != token)
            continue;
        QList<WiFiPeer> peers = m_peers;
        peers[i].host = host;
        peers[i].lastSeen = now();
        changePeers(std::move(peers));
        save();
        return true;
    }
    return false;
}

void WiFiPeerRegistry::regeneratePIN(const QString& host)
{
    const int index = indexOfHost(host);
    if (index < 0)
        return;
    QList<WiFiPeer> peers = m_peers;
    peers[index].token.reset();
    peers[index].pin = makePIN(m_random);
    peers[index].lastSeen = now();
    changePeers(std::move(peers));
    save();
}

void WiFiPeerRegistry::remove(const QString& host)
{
    QList<WiFiPeer> peers = m_peers;
    peers.removeIf([&host](const WiFiPeer& peer) { return peer.host == host; });
    changePeers(std::move(peers));
    if (m_selectedPeerHost == host)
        setSelectedPeerHost(std::nullopt);
    save();
}

bool WiFiPeerRegistry::save()
{
    QJsonArray array;
    for (const WiFiPeer& peer : std::as_const(m_peers))
        array.append(peer.toJson());
    return m_file.save(array);
}

void WiFiPeerRegistry::touchPeerOnMainActor(const QString& host, const std::optional<QString>& name)
{
    m_gate.post([this, host, name] { touch(host, name); });
}

std::optional<QString> WiFiPeerRegistry::verifyPINOnMainActor(const QString& host,
                                                              const QString& pin)
{
    return m_gate.call<std::optional<QString>>([this, host, pin] { return verifyPIN(host, pin); },
                                               std::nullopt);
}

bool WiFiPeerRegistry::verifyTokenOnMainActor(const QString& host, const QString& token)
{
    return m_gate.call<bool>([this, host, token] { return verifyToken(host, token); }, false);
}

void WiFiPeerRegistry::shutdown()
{
    m_gate.close();
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
