#include "wifi/registry_server_backend.h"

#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QTimer>

#include <QUrl>
#include <atomic>

namespace qb {

RegistryServerBackend::RegistryServerBackend(WiFiPeerRegistry& peers,
                                             PendingOutgoingFilesRegistry& outgoing,
                                             ReceivedFilesRegistry& received,
                                             SentFilesRegistry& sent, int timeoutMs)
    : m_peers(peers), m_outgoing(outgoing), m_received(received), m_sent(sent),
      m_timeoutMs(timeoutMs)
{}

RegistryServerBackend::~RegistryServerBackend() = default;

quint64 RegistryServerBackend::enlist(QObject* context)
{
    QMutexLocker lock(&m_contexts->mutex);
    if (const auto found = m_contexts->live.constFind(context); found != m_contexts->live.cend()) {
        return *found;
    }
    const quint64 serial = m_contexts->nextSerial++;
    m_contexts->live.insert(context, serial);
    std::weak_ptr<Contexts> weak = m_contexts;
    // Runs on the context's own thread while it is destroyed, before its posted events go.
    QObject::connect(context, &QObject::destroyed, [weak, context] {
        if (const std::shared_ptr<Contexts> contexts = weak.lock()) {
            QMutexLocker lock(&contexts->mutex);
            contexts->live.remove(context);
        }
    });
    return serial;
}

template <typename T>
void RegistryServerBackend::ask(QObject* gui, std::function<T()> question, T fallback,
                                QObject* context, std::function<void(T)> done)
{
    // Lives on the context's thread: both the answer and the time-out are delivered there.
    struct Call
    {
        std::function<void(T)> done;
        QTimer* timer = nullptr;
        // Pending, taken up by the GUI thread, or given up. A question the time-out gave up on
        // must never run later: a late PIN check would issue a token no phone receives.
        enum State { Pending, Asked, GivenUp };
        std::atomic<int> state{Pending};
        void deliver(T value)
        {
            if (!timer) {
                return; // answered already
            }
            // A download asks once per chunk: answered calls must not leave timers behind.
            timer->stop();
            timer->deleteLater();
            timer = nullptr;
            done(std::move(value));
        }
    };
    const quint64 serial = enlist(context);
    auto call = std::make_shared<Call>();
    call->done = std::move(done);
    call->timer = new QTimer(context);
    call->timer->setSingleShot(true);
    // A GUI thread that does not answer in time gets the answer "nothing found".
    // Once the GUI thread has taken the question up, its answer is on the way and is awaited.
    QObject::connect(call->timer, &QTimer::timeout, call->timer, [call, fallback] {
        int expected = Call::Pending;
        if (call->state.compare_exchange_strong(expected, Call::GivenUp)) {
            call->deliver(fallback);
        }
    });
    call->timer->start(m_timeoutMs);
    std::weak_ptr<Contexts> weak = m_contexts;
    QMetaObject::invokeMethod(
        gui,
        [weak, serial, context, question = std::move(question), fallback, call] {
            int expected = Call::Pending;
            if (!call->state.compare_exchange_strong(expected, Call::Asked)) {
                return;
            }
            T answer = fallback;
            try {
                answer = question();
            } catch (...) {
                // A registry does not throw; if one did, the phone gets the empty answer.
            }
            const std::shared_ptr<Contexts> contexts = weak.lock();
            if (!contexts) {
                return;
            }
            QMutexLocker lock(&contexts->mutex);
            if (contexts->live.value(context) != serial) {
                return; // the connection is gone
            }
            QMetaObject::invokeMethod(
                context, [call, answer] { call->deliver(answer); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void RegistryServerBackend::touchPeer(const QString& host, const std::optional<QString>& name)
{
    m_peers.touchPeerOnMainActor(host, name);
}

void RegistryServerBackend::regeneratePIN(const QString& host)
{
    QMetaObject::invokeMethod(
        &m_peers, [peers = &m_peers, host] { peers->regeneratePIN(host); }, Qt::QueuedConnection);
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
    ask<std::optional<QString>>(
        &m_peers, [peers = &m_peers, host, pin] { return peers->verifyPIN(host, pin); },
        std::nullopt, context, std::move(done));
}

void RegistryServerBackend::verifyToken(const QString& host, const QString& token, QObject* context,
                                        std::function<void(bool)> done)
{
    ask<bool>(
        &m_peers, [peers = &m_peers, host, token] { return peers->verifyToken(host, token); },
        false, context, std::move(done));
}

void RegistryServerBackend::listForHost(const QString& host, QObject* context,
                                        std::function<void(QList<OfferedFile>)> done)
{
    // Files are offered to paired phones only: an address alone proves nothing.
    ask<QList<OfferedFile>>(
        &m_outgoing,
        [outgoing = &m_outgoing, peers = &m_peers, host] {
            return peers->isPaired(host) ? outgoing->offeredTo(host) : QList<OfferedFile>{};
        },
        {}, context, std::move(done));
}

void RegistryServerBackend::downloadPath(const QString& id, const QString& host, QObject* context,
                                         std::function<void(std::optional<QString>)> done)
{
    ask<std::optional<QString>>(
        &m_outgoing,
        [outgoing = &m_outgoing, peers = &m_peers, id, host]() -> std::optional<QString> {
            if (!peers->isPaired(host)) {
                return std::nullopt;
            }
            const std::optional<QUrl> url = outgoing->downloadURL(id, host);
            if (!url || !url->isLocalFile()) {
                return std::nullopt;
            }
            return url->toLocalFile();
        },
        std::nullopt, context, std::move(done));
}

void RegistryServerBackend::isCancelled(const QString& id, QObject* context,
                                        std::function<void(bool)> done)
{
    ask<bool>(
        &m_outgoing,
        [outgoing = &m_outgoing, id] {
            const QUuid uuid(id);
            return !uuid.isNull() && outgoing->cancelledIDs().contains(uuid);
        },
        false, context, std::move(done));
}

} // namespace qb
