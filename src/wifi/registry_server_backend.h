#pragma once

#include "wifi/main_thread_gate.h"
#include "wifi/wifi_server_backend.h"

namespace qb {

class PendingOutgoingFilesRegistry;
class ReceivedFilesRegistry;
class SentFilesRegistry;
class WiFiPeerRegistry;

// The server's way to the four registries on the GUI thread, through the registries' own bridges.
// Nothing here blocks a connection thread: each question is posted to the GUI thread, and its
// answer is posted back to the asking connection (or dropped once that connection is gone).
// While it lives, the files waiting for a phone follow that phone (and no other) when its token
// check moves it to a new address.
class RegistryServerBackend : public WiFiServerBackend
{
public:
    static constexpr int kDefaultTimeoutMs = MainThreadGate::kDefaultTimeoutMs;

    RegistryServerBackend(WiFiPeerRegistry& peers, PendingOutgoingFilesRegistry& outgoing,
                          ReceivedFilesRegistry& received, SentFilesRegistry& sent,
                          int timeoutMs = kDefaultTimeoutMs);
    // Once the server has stopped, on the GUI thread: applies what it posted to the registries
    // and no event loop has run, so that an upload committed while quitting is still recorded.
    // Questions whose connections are gone are given up, not run.
    ~RegistryServerBackend() override;
    // What the destructor applies, for a backend that a connection left running keeps alive.
    void applyPosted();

    void touchPeer(const QString& host, const std::optional<QString>& name,
                   const std::optional<QString>& token) override;
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
    WiFiPeerRegistry& m_peers;
    PendingOutgoingFilesRegistry& m_outgoing;
    ReceivedFilesRegistry& m_received;
    SentFilesRegistry& m_sent;
    int m_timeoutMs;
    QMetaObject::Connection m_followMoves;
    QMetaObject::Connection m_passOnFiles;
};

} // namespace qb
