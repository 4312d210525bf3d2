#pragma once

#include "wifi/registry_server_backend.h"

#include <QFile>
#include <QString>

#include <atomic>
#include <fcntl.h>
#include <unistd.h>

namespace qb::test {

// The server's way to the registries, except that a download's lookup first opens the named pipe
// `fifo` for reading and waits there, on the connection thread, until something opens the pipe
// for writing: a connection thread held in a call that does not return.
class PipeHeldBackend : public RegistryServerBackend
{
public:
    PipeHeldBackend(QString fifo, WiFiPeerRegistry& peers, PendingOutgoingFilesRegistry& outgoing,
                    ReceivedFilesRegistry& received, SentFilesRegistry& sent)
        : RegistryServerBackend(peers, outgoing, received, sent), m_fifo(std::move(fifo))
    {}

    void downloadPath(const QString& id, const QString& host, QObject* context,
                      std::function<void(std::optional<QString>)> done) override
    {
        m_held = true;
        const int fd = ::open(QFile::encodeName(m_fifo).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        m_held = false;
        RegistryServerBackend::downloadPath(id, host, context, std::move(done));
    }

    // Whether a connection thread waits in the pipe now.
    bool held() const { return m_held; }
    // Lets the waiting connection thread go on.
    void release()
    {
        const int fd = ::open(QFile::encodeName(m_fifo).constData(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }

private:
    const QString m_fifo;
    std::atomic<bool> m_held{false};
};

} // namespace qb::test
