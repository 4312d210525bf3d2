#pragma once

#include "wifi/wifi_server_backend.h"

#include <QHash>
#include <QMutex>

#include <memory>

namespace qb {

class PendingOutgoingFilesRegistry;
class ReceivedFilesRegistry;
class SentFilesRegistry;
class WiFiPeerRegistry;

// The server's way to the four registries on the GUI thread. Nothing here blocks a connection
// thread: each question is posted to the GUI thread, and its answer is posted back to the
// asking connection (or dropped once that connection is gone).
class RegistryServerBackend : public WiFiServerBackend
{
public:
    static constexpr int kDefaultTimeoutMs = 10'000;

    RegistryServerBackend(WiFiPeerRegistry& peers, PendingOutgoingFilesRegistry& outgoing,
                          ReceivedFilesRegistry& received, SentFilesRegistry& sent,
                          int timeoutMs = kDefaultTimeoutMs);
    ~RegistryServerBackend() override;

    void touchPeer(const QString& host, const std::optional<QString>& name) override;
    void regeneratePIN(const QString& host) override;
    void markSending(const QString& id) override;
    void updateProgress(const QString& id, qint64 sentBytes) override;
    void clearCancellation(const QString& id) override;
    void markCompleted(const QString& id) override;
    void markFailed(const QString& id) override;
    void recordReceived(const QString& path, qint64 bytes, const QString& senderHost,
                        const QString& senderName) override;
    void recordSent(const QString& path, qint64 bytes, const QString& recipientHost) override;

    void verifyPIN(const QString& host, const QString& pin, QObject* context,
                   std::function<void(std::optional<QString>)> done) override;
    void verifyToken(const QString& host, const QString& token, QObject* context,
                     std::function<void(bool)> done) override;
    void listForHost(const QString& host, QObject* context,
                     std::function<void(QList<OfferedFile>)> done) override;
    void downloadPath(const QString& id, const QString& host, QObject* context,
                      std::function<void(std::optional<QString>)> done) override;
    void isCancelled(const QString& id, QObject* context, std::function<void(bool)> done) override;

private:
    // Connections that may still receive answers, each with a serial so that a new object at
    // the address of a destroyed one is never mistaken for it.
    struct Contexts
    {
        QMutex mutex;
        QHash<QObject*, quint64> live;
        quint64 nextSerial = 1;
    };

    template <typename T>
    void ask(QObject* gui, std::function<T()> question, T fallback, QObject* context,
             std::function<void(T)> done);
    quint64 enlist(QObject* context);

    WiFiPeerRegistry& m_peers;
    PendingOutgoingFilesRegistry& m_outgoing;
    ReceivedFilesRegistry& m_received;
    SentFilesRegistry& m_sent;
    int m_timeoutMs;
    std::shared_ptr<Contexts> m_contexts = std::make_shared<Contexts>();
};

} // namespace qb
