#include "bench_processes.h"

#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/registry_server_backend.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_advertiser.h"
#include "wifi/wifi_peer_registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace qb::bench {

int runServer(const QString& folder, const QString& offer)
{
    // The system log is not what is measured here.
    Logger::setSink([](const LogRecord&) {});
    const QString data = QDir(folder).filePath("data");
    const QString downloads = QDir(folder).filePath("downloads");
    QDir().mkpath(data);
    QDir().mkpath(downloads);
    WiFiPeerRegistry peers(data);
    PendingOutgoingFilesRegistry outgoing;
    ReceivedFilesRegistry received(data);
    SentFilesRegistry sent(data);
    RegistryServerBackend backend(peers, outgoing, received, sent);
    WiFiAdvertiser::Options options;
    options.serviceName = QStringLiteral("Bench");
    options.downloadsFolder = [downloads] {
        return downloads;
    };
    WiFiAdvertiser server(backend, nullptr, options);
    server.start();
    if (!server.port()) {
        return 1;
    }
    QString id = QStringLiteral("-");
    if (!offer.isEmpty()) {
        // Files are offered to paired phones only.
        peers.setPeers({WiFiPeer{QStringLiteral("127.0.0.2"),
                                 QStringLiteral("Bench"),
                                 QStringLiteral("000000"),
                                 QStringLiteral("BENCH"),
                                 {}}});
        outgoing.enqueue(QUrl::fromLocalFile(offer), QStringLiteral("127.0.0.2"));
        id = outgoing.files().first().id.toString(QUuid::WithoutBraces).toUpper();
    }
    std::printf("PORT %u ID %s\n", unsigned(*server.port()), qPrintable(id));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

int runSink(const QString& target)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 1;
    }
    std::printf("PORT %u ID -\n", unsigned(ntohs(address.sin_port)));
    std::fflush(stdout);
    const int connection = ::accept(listener, nullptr, nullptr);
    const int file = ::open(QFile::encodeName(target).constData(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char> buffer(256 * 1024);
    QByteArray head;
    qint64 remaining = -1;
    while (remaining != 0) {
        const ssize_t got = ::recv(connection, buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            break;
        }
        const char* data = buffer.data();
        qint64 size = got;
        if (remaining < 0) {
            head.append(data, got);
            const qsizetype end = head.indexOf("\r\n\r\n");
            if (end < 0) {
                continue;
            }
            const qsizetype at = head.toLower().indexOf("content-length:");
            remaining = head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
            data = buffer.data() + (got - (head.size() - end - 4));
            size = head.size() - end - 4;
        }
        size = std::min(size, remaining);
        if (::write(file, data, size_t(size)) != size) {
            return 1;
        }
        remaining -= size;
    }
    // A fair reference for an upload that is on the disk before it is acknowledged.
    const bool flushed = ::fdatasync(file) == 0;
    ::close(file);
    const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    ::send(connection, reply, sizeof reply - 1, MSG_NOSIGNAL);
    ::shutdown(connection, SHUT_WR);
    ::recv(connection, buffer.data(), buffer.size(), 0);
    ::close(connection);
    ::close(listener);
    return remaining == 0 && flushed ? 0 : 1;
}

} // namespace qb::bench
