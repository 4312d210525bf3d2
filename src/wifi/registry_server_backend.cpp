#include "wifi/registry_server_backend.h"

#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QCoreApplication>
#include <QThread>
#include <QUrl>

namespace qb {

RegistryServerBackend::RegistryServerBackend(WiFiPeerRegistry& peers,
                                             PendingOutgoingFilesRegistry& outgoing,
                                             ReceivedFilesRegistry& received,
                                             SentFilesRegistry& sent, int timeoutMs)
    : m_peers(peers), m_outgoing(outgoing), m_received(received), m_sent(sent),
      m_timeoutMs(timeoutMs)
{
    // Runs within the token check on the GUI thread, before the phone's next "/pending" can be
    // answered. The histories stay with the address they happened at.
    m_followMoves = QObject::connect(&m_peers, &WiFiPeerRegistry::phoneMoved, &m_outgoing,
                                     &PendingOutgoingFilesRegistry::followPhone);
    // A phone given a new PIN and paired again is still the phone its files were queued for.
    m_passOnFiles = QObject::connect(&m_peers, &WiFiPeerRegistry::tokenReplaced, &m_outgoing,
                                     &PendingOutgoingFilesRegistry::passOnFiles);
}

RegistryServerBackend::~RegistryServerBackend()
{
    applyPosted();
    QObject::disconnect(m_followMoves);
    QObject::disconnect(m_passOnFiles);
}

void RegistryServerBackend::applyPosted()
{
    if (QThread::currentThread() != m_received.thread())
        return;
    // What the server posted is applied now; a token check among it still moves the files.
    for (QObject* registry :
         std::initializer_list<QObject*>{&m_peers, &m_outgoing, &m_received, &m_sent})
        QCoreApplication::sendPostedEvents(registry);
    // A touch applied just now may wait for the peers' once-a-second save, which would not come.
    m_peers.shutdown();
}

void RegistryServerBackend::touchPeer(const QString& host, const std::optional<QString>& name,
                                      const std::optional<QString>& token)
{
    m_peers.touchPeerOnMainActor(host, name, token);
}

void RegistryServerBackend::markSending(const QString& id)
{
    m_outgoing.markSending(id);
}

void RegistryServerBackend::updateProgress(const QString& id, qint64 sentBytes)
{
    m_outgoing.updateProgress(id, sentBytes);
}

void RegistryServerBackend::clearCancellation(const QString& id)
{
    m_outgoing.clearCancellation(id);
}

void RegistryServerBackend::markCompleted(const QString& id)
{
    m_outgoing.markCompleted(id);
}

void RegistryServerBackend::markFailed(const QString& id)
{
    m_outgoing.markFailed(id);
}

void RegistryServerBackend::recordReceived(const QString& path, qint64 bytes,
                                           const QString& senderHost, const QString& senderName)
{
    m_received.recordTask(QUrl::fromLocalFile(path), bytes, senderHost, senderName);
}

void RegistryServerBackend::recordSent(const QString& path, qint64 bytes,
                                       const QString& recipientHost)
{
    m_sent.recordSentFileOnMainActor(QUrl::fromLocalFile(path), bytes, recipientHost);
}

void RegistryServerBackend::verifyPIN(const QString& host, const QString& pin, QObject* context,
                                      std::function<void(std::optional<QString>)> done)
{
    m_peers.verifyPINOnMainActor(host, pin, context, std::move(done), m_timeoutMs);
}

void RegistryServerBackend::verifyToken(const QString& host, const QString& token, QObject* context,
                                        std::function<void(bool)> done)
{
    m_peers.verifyTokenOnMainActor(host, token, context, std::move(done), m_timeoutMs);
}

void RegistryServerBackend::listForHost(const QString& host, QObject* context,
                                        std::function<void(QList<OfferedFile>)> done)
{
    // Files are offered to paired phones only, each to the phone it was queued for: an address
    // alone proves nothing.
    m_outgoing.listForHostTask(
        host, [peers = &m_peers, host] { return peers->phoneAt(host); }, context, std::move(done),
        m_timeoutMs);
}

void RegistryServerBackend::downloadPath(const QString& id, const QString& host, QObject* context,
                                         std::function<void(std::optional<QString>)> done)
{
    m_outgoing.downloadURLTask(
        id, host, [peers = &m_peers, host] { return peers->phoneAt(host); }, context,
        [done = std::move(done)](const std::optional<QUrl>& url) {
            done(url && url->isLocalFile() ? std::optional(url->toLocalFile()) : std::nullopt);
        },
        m_timeoutMs);
}

void RegistryServerBackend::isCancelled(const QString& id, QObject* context,
                                        std::function<void(bool)> done)
{
    m_outgoing.isCancelled(id, context, std::move(done), m_timeoutMs);
}

} // namespace qb
