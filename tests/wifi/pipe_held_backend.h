#pragma once

#include "wifi/wifi_server_backend.h"

#include <QFile>
#include <QString>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace qb::test {

// The server's way to the registries through `backend`, except that a download's lookup first
// opens the named pipe `fifo` for reading and waits there, on the connection thread, until
// something opens the pipe for writing: a connection thread held in a call that does not return.
class PipeHeldBackend : public WiFiServerBackend
{
public:
    PipeHeldBackend(QString fifo, WiFiServerBackend& backend)
        : m_fifo(std::move(fifo)), m_backend(backend)
    {}

    void downloadPath(const QString& id, const QString& host, QObject* context,
                      std::function<void(std::optional<QString>)> done) override
    {
        waitInPipe();
        m_backend.downloadPath(id, host, context, std::move(done));
        m_lookedUp = true;
        // Not in the pipe again: release()'s writer may still have it open, and the open would
        // then return at once.
        while (m_holdAfterLookUp)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }

    // From now on the released thread is held for good once it has asked `backend`, so that it is
    // still running when the process ends.
    void holdAfterLookUp() { m_holdAfterLookUp = true; }

    // Whether a connection thread waits in the pipe now.
    bool held() const { return m_held; }
    // Whether a released thread has gone on to ask `backend`.
    bool lookedUp() const { return m_lookedUp; }
    // Lets the waiting connection thread go on.
    void release()
    {
        const int fd = ::open(QFile::encodeName(m_fifo).constData(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }

    void touchPeer(const QString& host, const std::optional<QString>& name,
                   const std::optional<QString>& token) override
    {
        m_backend.touchPeer(host, name, token);
    }
    void markSending(const QString& id) override { m_backend.markSending(id); }
    void updateProgress(const QString& id, qint64 sentBytes) override
    {
        m_backend.updateProgress(id, sentBytes);
    }
    void clearCancellation(const QString& id) override { m_backend.clearCancellation(id); }
    void markCompleted(const QString& id) override { m_backend.markCompleted(id); }
    void markFailed(const QString& id) override { m_backend.markFailed(id); }
    void recordReceived(const QString& path, qint64 bytes, const QString& senderHost,
                        const QString& senderName) override
    {
        m_backend.recordReceived(path, bytes, senderHost, senderName);
    }
    void recordSent(const QString& path, qint64 bytes, const QString& recipientHost) override
    {
        m_backend.recordSent(path, bytes, recipientHost);
    }
    void verifyPIN(const QString& host, const QString& pin, QObject* context,
                   std::function<void(std::optional<QString>)> done) override
    {
        m_backend.verifyPIN(host, pin, context, std::move(done));
    }
    void verifyToken(const QString& host, const QString& token, QObject* context,
                     std::function<void(bool)> done) override
    {
        m_backend.verifyToken(host, token, context, std::move(done));
    }
    void listForHost(const QString& host, QObject* context,
                     std::function<void(QList<OfferedFile>)> done) override
    {
        m_backend.listForHost(host, context, std::move(done));
    }
    void isCancelled(const QString& id, QObject* context, std::function<void(bool)> done) override
    {
        m_backend.isCancelled(id, context, std::move(done));
    }

private:
    void waitInPipe()
    {
        m_held = true;
        const int fd = ::open(QFile::encodeName(m_fifo).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        m_held = false;
    }

    const QString m_fifo;
    WiFiServerBackend& m_backend;
    std::atomic<bool> m_held{false};
    std::atomic<bool> m_lookedUp{false};
    std::atomic<bool> m_holdAfterLookUp{false};
};

} // namespace qb::test
