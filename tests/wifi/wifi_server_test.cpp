#include "pipe_held_backend.h"
#include "platform/open_file_limit.h"
#include "platform/sync_spy.h"
#include "server_test_support.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/registry_server_backend.h"
#include "wifi/sent_files_registry.h"
#include "wifi/upload_file_writer.h"
#include "wifi/wifi_advertiser.h"
#include "wifi/wifi_peer_registry.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>

namespace {

// A wall clock that tests move as a user setting the clock would, for this process only: its
// calls for the time of day are answered here, shifted; the monotonic clock is left alone.
std::atomic<qint64> wallClockShiftMs{0};

template <typename Function> Function real(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int clock_gettime(clockid_t clock, struct timespec* time) noexcept
{
    static const auto next = real<int (*)(clockid_t, struct timespec*)>("clock_gettime");
    const int result = next(clock, time);
    if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE)) {
        const qint64 ns =
            time->tv_sec * 1'000'000'000LL + time->tv_nsec + wallClockShiftMs * 1'000'000;
        time->tv_sec = ns / 1'000'000'000;
        time->tv_nsec = ns % 1'000'000'000;
    }
    return result;
}

extern "C" int gettimeofday(struct timeval* __restrict time, void* __restrict zone) noexcept
{
    static const auto next = real<int (*)(struct timeval*, void*)>("gettimeofday");
    const int result = next(time, zone);
    if (result == 0) {
        const qint64 us = time->tv_sec * 1'000'000LL + time->tv_usec + wallClockShiftMs * 1000;
        time->tv_sec = us / 1'000'000;
        time->tv_usec = us % 1'000'000;
    }
    return result;
}

namespace qb {
namespace {

using test::bodyOf;
using test::RawClient;

struct FakePublisher : DnsSdPublisher
{
    explicit FakePublisher(QStringList* log) : log(log) {}
    void publish(const QString& name, const QString& type, quint16 port, EventHandler) override
    {
        *log << QStringLiteral("%1 %2 %3").arg(name, type).arg(port);
    }
    QStringList* log;
};

QJsonObject jsonOf(const QByteArray& reply)
{
    return QJsonDocument::fromJson(bodyOf(reply)).object();
}

class WiFiServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::ensureApplication();
        ASSERT_TRUE(data.isValid() && downloads.isValid());
        startServer(backend);
    }

    // Replaces the server by a running one over `serverBackend`.
    void startServer(WiFiServerBackend& serverBackend)
    {
        WiFiAdvertiser::Options options;
        options.serviceName = QStringLiteral("Test Desk");
        options.downloadsFolder = [path = downloads.path()] {
            return path;
        };
        options.idleTimeoutMs = idleTimeoutMs;
        options.headTimeoutMs = headTimeoutMs;
        options.bodyRateWindowMs = bodyRateWindowMs;
        options.minBodyBytesPerWindow = minBodyBytesPerWindow;
        options.maxConnections = maxConnections;
        options.workerThreads = workerThreads;
        options.drainTimeoutMs = 500;
        options.connectionWaitMs = connectionWaitMs;
        options.pinLimits = pinLimits;
        server.reset();
        server = std::make_unique<WiFiAdvertiser>(
            serverBackend, std::make_unique<FakePublisher>(&published), options);
        server->start();
        ASSERT_TRUE(server->isRunning());
        ASSERT_TRUE(server->port());
        port = *server->port();
    }

    void TearDown() override
    {
        wallClockShiftMs = 0;
        server.reset();
        QCoreApplication::processEvents();
    }

    // The whole reply to `request` from `source`, which may half-close after sending it.
    QByteArray ask(const QByteArray& request, const char* source = "127.0.0.1",
                   bool halfClose = false)
    {
        return test::runAsPhone<QByteArray>([&] {
            RawClient client(port, source);
            if (!client.connected() || !client.send(request))
                return QByteArray("<no connection>");
            if (halfClose)
                client.shutdownWrite();
            return client.read();
        });
    }
    QByteArray post(const QByteArray& path, const QByteArray& body, const char* source)
    {
        return ask("POST " + path + " HTTP/1.1\r\nX-Device-Name: Pixel 8\r\nContent-Length: " +
                       QByteArray::number(body.size()) + "\r\n\r\n" + body,
                   source);
    }

    QByteArray curl(const QStringList& arguments)
    {
        return test::runAsPhone<QByteArray>([&] {
            QProcess process;
            process.start("curl", QStringList{"-s", "-S", "-i", "--max-time", "60"} + arguments);
            process.waitForFinished(90'000);
            EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
            return process.readAllStandardOutput();
        });
    }

    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }

    QString quillbayFolder() const { return QDir(downloads.path()).filePath("Quillbay"); }

    // Files are offered to paired phones only.
    void pair(const QString& host)
    {
        peers.setPeers(peers.peers() << WiFiPeer{host, "P", "1", "T" + host, QDateTime()});
    }
    // A file of `size` bytes queued for the phone pair() put at `host`; the id the phone sends.
    QByteArray offer(qint64 size, const QString& host)
    {
        QFile file(source.filePath(QString::number(outgoing.files().size())));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size));
        outgoing.enqueue(QUrl::fromLocalFile(file.fileName()), host, "T" + host);
        return outgoing.files().last().id.toString(QUuid::WithoutBraces).toUtf8();
    }

    int idleTimeoutMs = 30'000;
    int headTimeoutMs = kRequestHeadTimeoutMs;
    int bodyRateWindowMs = kBodyRateWindowMs;
    qint64 minBodyBytesPerWindow = kMinBodyBytesPerWindow;
    int maxConnections = 1000;
    int workerThreads = 4;
    int connectionWaitMs = 10'000;
    PinAttemptLimiter::Limits pinLimits;
    test::LogCapture logs;
    QTemporaryDir data;
    QTemporaryDir downloads;
    QTemporaryDir source;
    WiFiPeerRegistry peers{data.path()};
    PendingOutgoingFilesRegistry outgoing;
    ReceivedFilesRegistry received{data.path()};
    SentFilesRegistry sent{data.path()};
    RegistryServerBackend backend{peers, outgoing, received, sent};
    QStringList published;
    std::unique_ptr<WiFiAdvertiser> server;
    quint16 port = 0;
};

TEST_F(WiFiServerTest, AdvertisesOnceStatusRepliesExactlyAndLoopbackIsNeverRecorded)
{
    EXPECT_EQ(published, QStringList{QStringLiteral("Test Desk _lanternpost._tcp %1").arg(port)});
    server->start(); // running already: nothing happens
    EXPECT_EQ(published.size(), 1);
    EXPECT_TRUE(logs.contains(QStringLiteral("WiFiAdvertiser READY on port %1").arg(port)));

    const QByteArray reply = ask("GET /status HTTP/1.1\r\nX-Device-Name: Pixel\r\n\r\n");
    EXPECT_EQ(reply.toStdString(),
              "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 30\r\n"
              "Connection: close\r\n\r\n{\"name\":\"Test Desk\",\"ok\":true}");
    EXPECT_EQ(jsonOf(curl({url("/status")})), QJsonObject({{"ok", true}, {"name", "Test Desk"}}));
    EXPECT_EQ(jsonOf(ask("GET /status HTTP/1.1\r\n\r\n", "::1")).value("ok"), true);
    test::waitUntil([&] { return server->openConnections() == 0; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(peers.peers().isEmpty());
    EXPECT_TRUE(logs.contains("HTTP GET /status from 127.0.0.1"));
    EXPECT_TRUE(logs.contains("HTTP GET /status from ::1"));
}

TEST_F(WiFiServerTest, FramingOverTheWire)
{
    // A head in several segments, and a second request on the same connection, which gets nothing.
    const QByteArray reply = test::runAsPhone<QByteArray>([&] {
        RawClient client(port);
        client.send("GET /sta");
        client.send("tus HTTP/1.1\r\n\r");
        client.send("\nGET /status HTTP/1.1\r\n\r\n");
        return client.read();
    });
    EXPECT_EQ(reply.count("HTTP/1.1 200 OK"), 1);
    EXPECT_TRUE(ask("get /status HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404 Not Found\r\n"));
    EXPECT_TRUE(ask("GET\r\n\r\n").startsWith("HTTP/1.1 400 Bad Request\r\n"));
    EXPECT_TRUE(
        ask("GET /control/x HTTP/1.1\r\n\r\n").endsWith("WebSocket /control not implemented"));
    // A body announced but cut short gets no reply at all; a whole one before a half-close does,
    // but for a PIN check, given up as for a phone that hung up.
    EXPECT_EQ(ask("POST /pair HTTP/1.1\r\nContent-Length: 10\r\n\r\n{\"pi", "127.0.0.1", true),
              QByteArray());
    EXPECT_TRUE(ask("POST /reconnect HTTP/1.1\r\nContent-Length: 14\r\n\r\n{\"token\":\"x1\"}",
                    "127.0.0.2", true)
                    .endsWith("\r\n\r\nInvalid token \xe2\x80\x94 pair again"));
    // An oversized head is refused, and the reply is not lost to a reset.
    const QByteArray oversized =
        ask("GET /status HTTP/1.1\r\nX-Pad: " + QByteArray(100 * 1024, 'p'));
    EXPECT_TRUE(oversized.startsWith("HTTP/1.1 400 Bad Request\r\n"));
    EXPECT_TRUE(oversized.endsWith("\r\n\r\nBad Request"));
}

// Also guards the lock-out: five wrong PINs refuse even the right one, for that host only.
TEST_F(WiFiServerTest, PairReconnectAndPendingEndToEnd)
{
    // The first request from a new address creates its peer with a PIN.
    ask("GET /status HTTP/1.1\r\nX-Device-Name: Pixel 8\r\n\r\n", "127.0.0.2");
    ASSERT_TRUE(test::waitUntil([&] { return peers.peers().size() == 1; }));
    const WiFiPeer peer = peers.peers().first();
    EXPECT_EQ(peer.host, "127.0.0.2");
    EXPECT_EQ(peer.name, "Pixel 8");
    const auto pair = [&](const QString& pin, const char* source) {
        return post("/pair", "{\"pin\":\"" + pin.toUtf8() + "\"}", source);
    };
    for (const QByteArray body : {"{\"pin\":12345}", "not json", "[\"012345\"]", "{}"})
        EXPECT_EQ(bodyOf(post("/pair", body, "127.0.0.2")), "Missing pin");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(bodyOf(pair(peer.pin == "000000" ? "000001" : "000000", "127.0.0.2")),
                  "Incorrect PIN");
    QCoreApplication::processEvents();
    EXPECT_EQ(peers.peers().first().pin, peer.pin);
    EXPECT_TRUE(bodyOf(pair(peer.pin, "127.0.0.2")).startsWith("Too many attempts"));

    ask("GET /status HTTP/1.1\r\n\r\n", "127.0.0.3");
    ASSERT_TRUE(test::waitUntil([&] { return peers.peers().size() == 2; }));
    const WiFiPeer other = peers.peers().at(peers.peers().at(0).host == "127.0.0.3" ? 0 : 1);
    const QByteArray token =
        jsonOf(pair(other.pin, "127.0.0.3")).value("token").toString().toUtf8();
    EXPECT_EQ(token.size(), 36);
    EXPECT_EQ(bodyOf(post("/reconnect", "{\"token\":5}", "127.0.0.4")), "Missing token");
    // The length counts bytes: the dash is three.
    EXPECT_EQ(
        post("/reconnect", "{\"token\":\"nope\"}", "127.0.0.4"),
        "HTTP/1.1 401 Unauthorized\r\nContent-Type: text/plain; charset=utf-8\r\n"
        "Content-Length: 28\r\nConnection: close\r\n\r\nInvalid token \xe2\x80\x94 pair again");
    EXPECT_EQ(jsonOf(post("/reconnect", "{\"token\":\"" + token + "\"}", "127.0.0.5")),
              QJsonObject({{"ok", true}}));
    test::waitUntil([&] { return server->openConnections() == 0; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(std::any_of(peers.peers().cbegin(), peers.peers().cend(), [&](const WiFiPeer& p) {
        return p.host == "127.0.0.5" && p.token == QString::fromUtf8(token);
    }));
    EXPECT_EQ(bodyOf(ask("GET /pending HTTP/1.1\r\n\r\n", "127.0.0.5")), "{\"files\":[]}");
}

// Few enough wrong PINs from all phones together reach the limit they share.
struct WiFiServerPinTest : WiFiServerTest
{
    WiFiServerPinTest() { pinLimits.failuresInWindow = 8; }
};

// Guards against wrong PINs from a paired phone's address unpairing it, a lock-out that follows
// the wall clock, and a refusal by the limit that reads like a wrong PIN.
TEST_F(WiFiServerPinTest, WrongPINsOnlyHoldOffPairingForATimeTheWallClockCannotMove)
{
    ask("GET /status HTTP/1.1\r\n\r\n", "127.0.0.2");
    ask("GET /status HTTP/1.1\r\n\r\n", "127.0.0.4");
    ASSERT_TRUE(test::waitUntil([&] { return peers.peers().size() == 2; }));
    const QString pin = peers.peers().first().pin;
    const QString wrong = pin == "000000" ? "000001" : "000000";
    const auto pair = [&](const QString& tried, const char* source) {
        return post("/pair", "{\"pin\":\"" + tried.toUtf8() + "\"}", source);
    };
    const QByteArray token = jsonOf(pair(pin, "127.0.0.2")).value("token").toString().toUtf8();
    ASSERT_EQ(token.size(), 36);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(bodyOf(pair(wrong, "127.0.0.2")), "Incorrect PIN");
    QCoreApplication::processEvents();
    EXPECT_EQ(peers.peers().first().pin, pin);
    EXPECT_EQ(peers.peers().first().token, QString::fromUtf8(token));
    EXPECT_EQ(jsonOf(post("/reconnect", "{\"token\":\"" + token + "\"}", "127.0.0.2")),
              QJsonObject({{"ok", true}}));

    // The seconds a refusal by the limit asks the phone to wait; -1 for any other reply.
    const auto waitSeconds = [](const QByteArray& reply) {
        const QByteArray prefix = "HTTP/1.1 401 Unauthorized\r\n";
        const QByteArray text = "Too many attempts \xe2\x80\x94 try again in ";
        const QByteArray body = bodyOf(reply);
        if (!reply.startsWith(prefix) || !body.startsWith(text) || !body.endsWith(" seconds"))
            return -1;
        return body.mid(text.size(), body.size() - text.size() - 8).toInt();
    };
    // The 30 s lock-out of this address, with the wall clock set back or forward an hour.
    for (const qint64 shiftMs : {0LL, -3'600'000LL, 3'600'000LL}) {
        wallClockShiftMs = shiftMs;
        const int seconds = waitSeconds(pair(pin, "127.0.0.2"));
        EXPECT_TRUE(seconds > 20 && seconds <= 30) << shiftMs << " ms: " << seconds;
    }
    wallClockShiftMs = 0;

    // Three more wrong PINs from elsewhere fill the limit all addresses share for a minute.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(bodyOf(pair(wrong, "127.0.0.3")), "Incorrect PIN");
    const int seconds = waitSeconds(pair(peers.peers().at(1).pin, "127.0.0.4"));
    EXPECT_TRUE(seconds > 50 && seconds <= 60) << seconds;
    EXPECT_EQ(peers.peers().at(1).token, std::nullopt);
}

// Guards against pairing a phone that has gone while the GUI thread was busy: the new token
// would reach nobody, and the token the phone holds would stop working.
TEST_F(WiFiServerTest, APINCheckIsGivenUpWhenItsPhoneLeavesBeforeTheGuiThreadTakesItUp)
{
    pair("127.0.0.3");
    const QString pin = peers.peers().first().pin;
    // A reset, and an ordinary close: both are a phone that hung up.
    for (const bool reset : {true, false}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        const auto asked = [&] {
            return logs.lines().count("HTTP POST /pair from 127.0.0.3");
        };
        const qsizetype before = asked();
        bool ended = false;
        // The GUI thread serves nothing until the phone has gone.
        std::thread([&] {
            RawClient client(port, "127.0.0.3");
            const QByteArray body = "{\"pin\":\"" + pin.toUtf8() + "\"}";
            client.send("POST /pair HTTP/1.1\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\n\r\n" + body);
            test::pollUntil([&] { return asked() > before; });
            if (reset)
                client.abort();
            else
                client.close();
            // Well before the question would time out on its own.
            ended = test::pollUntil([&] { return server->openConnections() == 0; }, 3'000);
        }).join();
        EXPECT_TRUE(ended);
        QCoreApplication::processEvents();
        EXPECT_EQ(peers.peers().first().token, "T127.0.0.3");
        EXPECT_EQ(jsonOf(post("/reconnect", "{\"token\":\"T127.0.0.3\"}", "127.0.0.3")),
                  QJsonObject({{"ok", true}}));
    }
}

TEST_F(WiFiServerTest, UploadLandsInTheQuillbayFolderAndIsRecordedACutOneLeavesNothing)
{
    // The phone goes away mid-body.
    ask("POST /upload HTTP/1.1\r\nX-File-Name: big.bin\r\nContent-Length: 1000000\r\n\r\n" +
            QByteArray(5000, 'z'),
        "127.0.0.2", true);
    ASSERT_TRUE(test::waitUntil([&] { return server->openConnections() == 0; }));
    EXPECT_TRUE(QDir(quillbayFolder()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    const QString local = source.filePath("input.bin");
    QByteArray content;
    for (int i = 0; i < 3 * 262144 + 11; ++i)
        content.append(char(i * 31));
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    const QStringList upload{"--interface",
                             "127.0.0.2",
                             "-H",
                             "X-File-Name: my%20photo.jpg",
                             "-H",
                             "X-Device-Name: Pixel",
                             "--data-binary",
                             "@" + local,
                             url("/upload")};
    const QJsonObject first = jsonOf(curl(upload));
    const QString expected = QDir(quillbayFolder()).filePath("my photo.jpg");
    EXPECT_EQ(first, QJsonObject({{"ok", true}, {"path", expected}, {"bytes", content.size()}}));
    QFile saved(expected);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), content);
    EXPECT_EQ(jsonOf(curl(upload)).value("path").toString(),
              QDir(quillbayFolder()).filePath("my photo (1).jpg"));
    // A path in the name cannot leave the folder.
    const QJsonObject escaped =
        jsonOf(curl({"-H", "X-File-Name: ../../escape.txt", "--data-binary", "x", url("/upload")}));
    EXPECT_EQ(escaped.value("path").toString(), QDir(quillbayFolder()).filePath("escape.txt"));
    // Nor can direction controls make it read as another type ("exe.txt"), in the history either.
    const QString plain = QDir(quillbayFolder()).filePath("txt.exe");
    EXPECT_EQ(jsonOf(curl({"-H", "X-File-Name: %E2%80%AEtxt%E2%81%A6.%E2%80%8Fexe", "--data-binary",
                           "x", url("/upload")}))
                  .value("path")
                  .toString(),
              plain);

    ASSERT_TRUE(test::waitUntil([&] { return received.files().size() == 4; }));
    EXPECT_EQ(received.files().at(0).url, QUrl::fromLocalFile(plain));
    const ReceivedFile last = received.files().at(2);
    EXPECT_EQ(last.url, QUrl::fromLocalFile(QDir(quillbayFolder()).filePath("my photo (1).jpg")));
    EXPECT_EQ(last.senderHost, "127.0.0.2");
    EXPECT_EQ(last.senderName, "Pixel");
    EXPECT_EQ(received.files().at(1).senderName, "Android device");
}

TEST_F(WiFiServerTest, DownloadStreamsTheQueuedFileToItsRecipientOnly)
{
    pair("127.0.0.2");
    pair("127.0.0.3");
    const QString local = source.filePath("report final?%\u00e9#.pdf");
    QByteArray content(5 * 262144 + 3, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char((i * 7) ^ (i >> 9));
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    outgoing.enqueue(QUrl::fromLocalFile(local), "127.0.0.2");
    const QString id = outgoing.files().first().id.toString(QUuid::WithoutBraces).toUpper();

    const QJsonArray pending =
        jsonOf(ask("GET /pending HTTP/1.1\r\n\r\n", "127.0.0.2")).value("files").toArray();
    ASSERT_EQ(pending.size(), 1);
    EXPECT_EQ(
        pending[0].toObject(),
        QJsonObject({{"id", id}, {"name", QFileInfo(local).fileName()}, {"size", content.size()}}));
    EXPECT_EQ(bodyOf(ask("GET /pending HTTP/1.1\r\n\r\n", "127.0.0.3")), "{\"files\":[]}");
    EXPECT_EQ(bodyOf(ask("GET /download?id=" + id.toUtf8() + " HTTP/1.1\r\n\r\n", "127.0.0.3")),
              "No such file");
    EXPECT_EQ(bodyOf(ask("GET /download HTTP/1.1\r\n\r\n", "127.0.0.2")), "Missing id");
    EXPECT_EQ(bodyOf(ask("GET /download?x=1 HTTP/1.1\r\n\r\n", "127.0.0.2")), "No such file");

    // Lower case finds the same file; the phone's half-close does not cut the download off.
    const QByteArray reply =
        ask("GET /download?id=" + id.toLower().toUtf8() + " HTTP/1.1\r\n\r\n", "127.0.0.2", true);
    EXPECT_TRUE(reply.startsWith(
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: 1310723\r\nX-File-Name: report%20final%3F%25%C3%A9%23.pdf\r\n"
        "Connection: close\r\n\r\n"));
    EXPECT_TRUE(bodyOf(reply) == content);

    ASSERT_TRUE(test::waitUntil([&] { return sent.files().size() == 1; }));
    EXPECT_EQ(sent.files().first().bytes, content.size());
    EXPECT_EQ(sent.files().first().recipientHost, "127.0.0.2");
    ASSERT_TRUE(test::waitUntil([&] {
        return !outgoing.files().isEmpty() &&
               outgoing.files().first().status == SendStatus::Completed;
    }));
    EXPECT_EQ(outgoing.files().first().sentBytes, content.size());
}

// Guards against files waiting for a phone staying at its old address when it reconnects from a
// new one: it could not see them, and the next phone at the old address could fetch them.
TEST_F(WiFiServerTest, FilesWaitingForAPhoneFollowItToItsNewAddress)
{
    pair("127.0.0.2");
    const QByteArray waiting = offer(3000, "127.0.0.2");
    const QByteArray cut = offer(2000, "127.0.0.2");
    offer(1000, "127.0.0.3");
    outgoing.updateStatus(outgoing.files()[1].id, SendStatus::Failed); // may still be fetched again

    EXPECT_EQ(jsonOf(post("/reconnect", "{\"token\":\"T127.0.0.2\"}", "127.0.0.6")),
              QJsonObject({{"ok", true}}));
    test::waitUntil([&] { return server->openConnections() == 0; });
    QCoreApplication::processEvents();
    ASSERT_EQ(peers.peers().size(), 1) << "one phone, not a paired one and an unpaired copy";
    EXPECT_EQ(peers.peers().first().host, "127.0.0.6");
    EXPECT_EQ(outgoing.files().last().recipientHost, "127.0.0.3");

    const auto idsOffered = [&](const char* source) {
        QStringList ids;
        for (const QJsonValue file :
             jsonOf(ask("GET /pending HTTP/1.1\r\n\r\n", source)).value("files").toArray())
            ids << file.toObject().value("id").toString();
        return ids;
    };
    EXPECT_EQ(idsOffered("127.0.0.6"), QStringList({QString::fromUtf8(waiting).toUpper(),
                                                    QString::fromUtf8(cut).toUpper()}));
    // Another paired phone now at the old address is offered nothing and can fetch nothing.
    peers.setPeers(peers.peers() << WiFiPeer{"127.0.0.2", "Q", "1", "other", QDateTime()});
    EXPECT_TRUE(idsOffered("127.0.0.2").isEmpty());
    EXPECT_EQ(bodyOf(ask("GET /download?id=" + waiting + " HTTP/1.1\r\n\r\n", "127.0.0.2")),
              "No such file");
    EXPECT_EQ(bodyOf(ask("GET /download?id=" + cut + " HTTP/1.1\r\n\r\n", "127.0.0.6")).size(),
              2000);
    ASSERT_TRUE(test::waitUntil([&] { return sent.files().size() == 1; }));
    EXPECT_EQ(sent.files().first().recipientHost, "127.0.0.6");

    // Given a new PIN and paired again, the phone is still offered what waits for it.
    peers.regeneratePIN("127.0.0.6");
    const QString pin = peers.peers().first().pin;
    EXPECT_EQ(jsonOf(post("/pair", "{\"pin\":\"" + pin.toUtf8() + "\"}", "127.0.0.6"))
                  .value("token")
                  .toString()
                  .size(),
              36);
    EXPECT_TRUE(idsOffered("127.0.0.6").contains(QString::fromUtf8(waiting).toUpper()));
}

// Guards against a phone that reconnects from a new address taking with it the files of another
// phone that had moved to its old address meanwhile: they were offered to that other phone.
TEST_F(WiFiServerTest, AWaitingFileFollowsOnlyThePhoneItWasOfferedTo)
{
    pair("127.0.0.12"); // phone B
    pair("127.0.0.11"); // phone A
    const QByteArray forA = offer(1500, "127.0.0.11");
    const auto reconnect = [&](const char* token, const char* source) {
        EXPECT_EQ(jsonOf(post("/reconnect", QByteArray("{\"token\":\"") + token + "\"}", source)),
                  QJsonObject({{"ok", true}}));
        test::waitUntil([&] { return server->openConnections() == 0; });
        QCoreApplication::processEvents();
    };
    const auto idsOffered = [&](const char* source) {
        QStringList ids;
        for (const QJsonValue file :
             jsonOf(ask("GET /pending HTTP/1.1\r\n\r\n", source)).value("files").toArray())
            ids << file.toObject().value("id").toString().toLower();
        return ids;
    };
    reconnect("T127.0.0.11", "127.0.0.12"); // B has left; A gets its address
    EXPECT_EQ(idsOffered("127.0.0.12"), QStringList({QString::fromUtf8(forA)}));
    // A moves on, from an address where B's older record comes first: the file follows again.
    reconnect("T127.0.0.11", "127.0.0.14");
    EXPECT_EQ(outgoing.files().first().recipientHost, "127.0.0.14");
    EXPECT_EQ(idsOffered("127.0.0.14"), QStringList({QString::fromUtf8(forA)}));
    reconnect("T127.0.0.12", "127.0.0.13"); // B comes back elsewhere
    EXPECT_TRUE(idsOffered("127.0.0.13").isEmpty());
    EXPECT_EQ(bodyOf(ask("GET /download?id=" + forA + " HTTP/1.1\r\n\r\n", "127.0.0.13")),
              "No such file");
    EXPECT_EQ(idsOffered("127.0.0.14"), QStringList({QString::fromUtf8(forA)}));
}

// Guards against a phone that reconnects from another phone's old address being offered that
// phone's waiting file (and fetching it, which then counts as sent to it), and against the touch
// of its reconnect renaming the other phone's pairing.
TEST_F(WiFiServerTest, PhonesSwappingAddressesEachSeeOnlyTheirOwnWaitingFile)
{
    pair("127.0.0.11"); // phone A
    pair("127.0.0.13"); // phone B
    const QByteArray forA = offer(1500, "127.0.0.11");
    const auto request = [&](const QByteArray& head, const QByteArray& name, const char* source,
                             const QByteArray& body = QByteArray()) {
        return ask(head + " HTTP/1.1\r\nX-Device-Name: " + name +
                       "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body,
                   source);
    };
    const auto settle = [&] {
        test::waitUntil([&] { return server->openConnections() == 0; });
        QCoreApplication::processEvents();
    };
    const QByteArray download = "GET /download?id=" + forA;

    EXPECT_EQ(
        jsonOf(request("POST /reconnect", "Phone B", "127.0.0.11", R"({"token":"T127.0.0.13"})")),
        QJsonObject({{"ok", true}}));
    EXPECT_EQ(bodyOf(request("GET /pending", "Phone B", "127.0.0.11")), "{\"files\":[]}");
    EXPECT_EQ(bodyOf(request(download, "Phone B", "127.0.0.11")), "No such file");
    settle();
    ASSERT_EQ(peers.peers().size(), 2);
    EXPECT_EQ(peers.peers().at(0).name, "P"); // A's pairing is not B's
    EXPECT_EQ(peers.peers().at(1).name, "Phone B");

    EXPECT_EQ(
        jsonOf(request("POST /reconnect", "Phone A", "127.0.0.13", R"({"token":"T127.0.0.11"})")),
        QJsonObject({{"ok", true}}));
    EXPECT_EQ(
        jsonOf(request("GET /pending", "Phone A", "127.0.0.13")).value("files").toArray().size(),
        1);
    EXPECT_EQ(bodyOf(request(download, "Phone A", "127.0.0.13")).size(), 1500);
    ASSERT_TRUE(test::waitUntil([&] { return sent.files().size() == 1; }));
    EXPECT_EQ(sent.files().first().recipientHost, "127.0.0.13");
    settle();
    EXPECT_EQ(peers.peers().at(0).name, "Phone A");
}

// Guards against a file written while a phone downloads it reaching the phone whole-looking, as
// its old bytes and then new ones, and being recorded as sent; and against one only renamed or
// chmod-ed, whose content never changed, being cut short.
TEST_F(WiFiServerTest, AFileWrittenDuringItsDownloadEndsShortButOneReplacedOrGrownArrivesWhole)
{
    pair("127.0.0.2");
    const qint64 size = 16LL << 20; // far more than the socket buffers hold
    const auto versionOf = [&](char seed) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(seed + (i >> 12));
        return bytes;
    };
    const QByteArray old = versionOf('a');
    const QByteArray newer = versionOf('n');
    const QString local = source.filePath("video.mp4");
    const QString other = source.filePath("other.mp4");
    const auto write = [](const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode) {
        QFile file(path);
        ASSERT_TRUE(file.open(mode) && file.write(bytes) == bytes.size());
    };
    // The phone reads a little, `change` runs while the rest waits, then the phone reads on.
    const auto download = [&](const std::function<void()>& change) {
        write(local, old, QIODevice::WriteOnly);
        // In the past, so that a write within the same clock tick still moves the time.
        QFile written(local);
        EXPECT_TRUE(written.open(QIODevice::ReadOnly) &&
                    written.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                        QFileDevice::FileModificationTime));
        written.close();
        outgoing.enqueue(QUrl::fromLocalFile(local), "127.0.0.2");
        const QByteArray id = outgoing.files().last().id.toString(QUuid::WithoutBraces).toUtf8();
        std::atomic<bool> started{false};
        std::atomic<bool> changed{false};
        std::atomic<bool> done{false};
        QByteArray reply;
        std::thread phone([&] {
            RawClient client(port, "127.0.0.2", 256 * 1024);
            client.send("GET /download?id=" + id + " HTTP/1.1\r\n\r\n");
            reply = client.read(1 << 20);
            started = true;
            test::pollUntil([&] { return changed.load(); });
            reply += client.read();
            done = true;
        });
        EXPECT_TRUE(test::waitUntil([&] { return started.load(); }));
        change();
        changed = true;
        EXPECT_TRUE(test::waitUntil([&] { return done.load(); }));
        phone.join();
        EXPECT_TRUE(reply.contains("Content-Length: 16777216\r\n"));
        const QUuid entry = outgoing.files().last().id;
        EXPECT_TRUE(test::waitUntil([&] {
            for (const PendingOutgoingFile& file : outgoing.files()) {
                if (file.id == entry)
                    return file.status == SendStatus::Failed ||
                           file.status == SendStatus::Completed;
            }
            return false;
        }));
        return bodyOf(reply);
    };
    const auto lastStatus = [&] {
        return outgoing.files().last().status;
    };

    // Rewritten in place, and copied over by a same-size version.
    QByteArray body = download([&] { write(local, newer.left(4096), QIODevice::ReadWrite); });
    EXPECT_LT(body.size(), size);
    EXPECT_TRUE(old.startsWith(body));
    EXPECT_EQ(lastStatus(), SendStatus::Failed);
    write(other, newer, QIODevice::WriteOnly);
    body = download([&] { ASSERT_EQ(QProcess::execute("cp", {other, local}), 0); });
    EXPECT_LT(body.size(), size);
    EXPECT_EQ(lastStatus(), SendStatus::Failed);
    EXPECT_TRUE(logs.contains("the file changed while it was sent"));
    EXPECT_TRUE(sent.files().isEmpty());

    // Replaced by a rename: the open file is the old one, whole. Grown: the size announced.
    body = download([&] {
        write(other, newer, QIODevice::WriteOnly);
        ASSERT_EQ(
            ::rename(QFile::encodeName(other).constData(), QFile::encodeName(local).constData()),
            0);
    });
    EXPECT_TRUE(body == old);
    EXPECT_EQ(lastStatus(), SendStatus::Completed);
    body = download([&] { write(local, newer.left(1 << 20), QIODevice::Append); });
    EXPECT_TRUE(body == old);
    EXPECT_EQ(lastStatus(), SendStatus::Completed);
    // Renamed within its folder, or made private: only the change time moves.
    body = download([&] { ASSERT_TRUE(QFile::rename(local, source.filePath("moved.mp4"))); });
    EXPECT_TRUE(body == old);
    EXPECT_EQ(lastStatus(), SendStatus::Completed);
    body = download(
        [&] { ASSERT_TRUE(QFile::setPermissions(local, QFile::ReadOwner | QFile::WriteOwner)); });
    EXPECT_TRUE(body == old);
    EXPECT_EQ(lastStatus(), SendStatus::Completed);
    ASSERT_TRUE(test::waitUntil([&] { return sent.files().size() == 4; }));
    EXPECT_EQ(sent.files().last().bytes, size);
}

TEST_F(WiFiServerTest, CancelOnTheComputerStopsAStreamingDownload)
{
    pair("127.0.0.2");
    const QByteArray id = offer(512LL << 20, "127.0.0.2"); // sparse: no disk needed
    const QUuid uuid = outgoing.files().first().id;
    std::atomic<bool> headRead{false};
    std::atomic<bool> cancelled{false};
    qint64 got = 0;
    std::thread phone([&] {
        RawClient client(port, "127.0.0.2");
        client.send("GET /download?id=" + id + " HTTP/1.1\r\n\r\n");
        got = client.read(4096).size();
        headRead = true;
        test::pollUntil([&] { return cancelled.load(); });
        got += client.read().size();
    });
    EXPECT_TRUE(test::waitUntil([&] { return headRead.load(); }));
    outgoing.cancel(uuid);
    cancelled = true;
    test::waitUntil([&] { return server->openConnections() == 0; }, 60'000);
    phone.join();
    EXPECT_LT(got, 512LL << 20);
    EXPECT_TRUE(logs.contains("Cancelled /download id=" + QString::fromUtf8(id)));
    QCoreApplication::processEvents();
    EXPECT_FALSE(outgoing.cancelledIDs().contains(uuid)); // consumed
    EXPECT_TRUE(sent.files().isEmpty());
}

// Also guards against a file offered to an unpaired host, one phone's stalls delaying others, and
// a phone leaving mid-download ending the process with SIGPIPE (sendfile raises it).
TEST_F(WiFiServerTest, PhoneLeavingMidDownloadFailsTheEntryAndStuckPhonesDelayNoOne)
{
    const QByteArray id = offer(256LL << 20, "127.0.0.2");
    const QByteArray get = "GET /download?id=" + id + " HTTP/1.1\r\n\r\n";
    EXPECT_EQ(bodyOf(ask("GET /pending HTTP/1.1\r\n\r\n", "127.0.0.2")), "{\"files\":[]}");
    EXPECT_EQ(bodyOf(ask(get, "127.0.0.2")), "No such file");
    pair("127.0.0.2");
    const qsizetype got = test::runAsPhone<qsizetype>([&] {
        RawClient client(port, "127.0.0.2");
        client.send(get);
        return client.read(1024 * 1024).size(); // then the phone is gone
    });
    EXPECT_EQ(got, 1024 * 1024);
    ASSERT_TRUE(test::waitUntil([&] {
        return !outgoing.files().isEmpty() && outgoing.files().first().status == SendStatus::Failed;
    }));
    EXPECT_TRUE(sent.files().isEmpty());

    const QByteArray again = offer(256LL << 20, "127.0.0.2");
    const bool answered = test::runAsPhone<bool>([&] {
        // One phone that never finishes its request on every worker, and one that never reads.
        std::vector<std::unique_ptr<RawClient>> stuck;
        for (int i = 0; i < 8; ++i) {
            stuck.push_back(std::make_unique<RawClient>(port, "127.0.0.2"));
            stuck.back()->send("POST /upload HTTP/1.1\r\nContent-Length: 100\r\n\r\nab");
        }
        RawClient reader(port, "127.0.0.2");
        reader.send("GET /download?id=" + again + " HTTP/1.1\r\n\r\n");
        bool ok = true;
        for (int i = 0; i < 20; ++i) {
            RawClient client(port);
            client.send("GET /status HTTP/1.1\r\n\r\n");
            ok = ok && client.read().startsWith("HTTP/1.1 200 OK");
        }
        return ok;
    });
    EXPECT_TRUE(answered);
}

// Guards against saving a body of unknown length as an empty file, and one host taking every
// connection of the server.
TEST_F(WiFiServerTest, UploadsNeedAPlainLengthAndOneHostHoldsAtMostSixtyFourConnections)
{
    for (const QByteArray header :
         {"Transfer-Encoding: chunked", "Content-Length: 12abc", "Content-Length: -5",
          "Content-Length: +5", "Content-Length: 9223372036854775808", "Content-Length: 0x10",
          "Content-Length: 5\r\nContent-Length: 6"}) {
        const QByteArray answer = ask("POST /upload HTTP/1.1\r\n" + header + "\r\n\r\nhello");
        EXPECT_TRUE(answer.startsWith(header.startsWith("T") ? "HTTP/1.1 411 Length Required"
                                                             : "HTTP/1.1 400 Bad Request"));
    }
    EXPECT_TRUE(QDir(quillbayFolder()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    const bool ok = test::runAsPhone<bool>([&] {
        std::vector<std::unique_ptr<RawClient>> held;
        for (int i = 0; i < 134; ++i)
            held.push_back(std::make_unique<RawClient>(port, i < 64 ? "127.0.0.5" : "127.0.0.1"));
        if (!test::pollUntil([&] { return server->openConnections() >= 134; }))
            return false;
        RawClient refused(port, "127.0.0.5"); // served, it would wait for a time-out
        const bool closed = refused.read().isEmpty() && refused.ended();
        RawClient other(port, "127.0.0.6");
        other.send("GET /status HTTP/1.1\r\n\r\n");
        return closed && other.read().startsWith("HTTP/1.1 200 OK");
    });
    EXPECT_TRUE(ok); // the computer's own connections are exempt
}

struct WiFiServerIdleTest : WiFiServerTest
{
    WiFiServerIdleTest() { idleTimeoutMs = 1500; }
};
// The idle time-out of 30 s cannot end the third connection in time: only the cap can.
struct WiFiServerCapTest : WiFiServerTest
{
    WiFiServerCapTest() { maxConnections = 2; }
};

// The flush of a received file under its temporary name.
const QString kUploadFlush = QStringLiteral("/Quillbay/.quillbay-upload-");

// Every phone on the one connection thread, so that whatever blocks that thread blocks them all.
struct WiFiServerOneThreadTest : WiFiServerTest
{
    WiFiServerOneThreadTest() { workerThreads = 1; }
    void TearDown() override
    {
        test::releaseSyncs();
        test::failSyncsWith(0);
        WiFiServerTest::TearDown();
    }
    QStringList folderEntries() const
    {
        return QDir(quillbayFolder()).entryList(QDir::Files | QDir::Hidden);
    }
    // One phone uploads `body`; `whileHeld` runs while the flush of the received file is held.
    QByteArray upload(const QByteArray& name, const QByteArray& body,
                      const std::function<void()>& whileHeld)
    {
        test::holdSyncs(kUploadFlush);
        std::atomic<bool> answered{false};
        QByteArray reply;
        std::thread phone([&] {
            RawClient client(port, "127.0.0.2");
            client.send("POST /upload HTTP/1.1\r\nX-File-Name: " + name + "\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\n\r\n" + body);
            reply = client.read();
            answered = true;
        });
        EXPECT_TRUE(test::waitUntil([] { return test::heldSyncs() > 0; }));
        whileHeld();
        EXPECT_FALSE(answered.load()) << "answered before the file is on the disk";
        test::releaseSyncs();
        EXPECT_TRUE(test::waitUntil([&] { return answered.load(); }));
        phone.join();
        return reply;
    }
};

// Guards against an upload's flush holding up the other phones of its connection thread, "ok"
// before the file is on the disk, and a failed flush leaving a file under the name.
TEST_F(WiFiServerOneThreadTest, AnUploadsFlushHoldsUpNoOtherPhoneAndEndsWholeOrNotAtAll)
{
    const QByteArray body(3 * UploadFileWriter::kWriteBackWindow + 5, 'u');
    const QByteArray reply = upload("big.bin", body, [&] {
        // With the flush on the connection thread, this would wait for the held flush to give up.
        EXPECT_TRUE(ask("GET /status HTTP/1.1\r\n\r\n", "127.0.0.3").startsWith("HTTP/1.1 200 OK"));
        EXPECT_EQ(QDir(quillbayFolder()).entryList(QDir::Files).size(), 0);
    });
    EXPECT_EQ(jsonOf(reply).value("bytes").toInteger(), body.size());
    QFile saved(QDir(quillbayFolder()).filePath("big.bin"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll() == body);

    // A file that vanishes or a disk that fills during the flush.
    const QByteArray vanished = upload("gone.txt", "data", [&] {
        for (const QString& entry : folderEntries())
            QFile::remove(QDir(quillbayFolder()).filePath(entry));
    });
    EXPECT_TRUE(vanished.startsWith("HTTP/1.1 500 "));
    EXPECT_EQ(bodyOf(vanished), "Failed to write file");
    const QByteArray full =
        upload("full.txt", "data", [] { test::failSyncsWith(ENOSPC, kUploadFlush); });
    test::failSyncsWith(0);
    EXPECT_EQ(bodyOf(full), "Failed to write file");
    EXPECT_TRUE(logs.contains("Failed to write file: No space left on device"));
    EXPECT_TRUE(folderEntries().isEmpty());

    // The phone is gone before the flush ends: the file is whole, so it is kept and recorded.
    test::holdSyncs(kUploadFlush);
    test::runAsPhone<bool>([&] {
        RawClient client(port, "127.0.0.2");
        client.send("POST /upload HTTP/1.1\r\nX-File-Name: left.txt\r\nContent-Length: 4\r\n\r\n"
                    "data");
        return test::pollUntil([] { return test::heldSyncs() > 0; });
    });
    test::releaseSyncs();
    ASSERT_TRUE(test::waitUntil([&] { return received.files().size() == 2; }));
    EXPECT_EQ(folderEntries(), QStringList{"left.txt"});
}

// Guards against the download of a named pipe (or a device) holding its connection thread in the
// open for ever, with every other phone of that thread.
TEST_F(WiFiServerOneThreadTest, AFileThatIsNotRegularIsRefusedAtOnceAndOtherPhonesAreServed)
{
    pair("127.0.0.2");
    const QString fifo = source.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& local : {fifo, QStringLiteral("/dev/null")}) {
        outgoing.enqueue(QUrl::fromLocalFile(local), "127.0.0.2");
        const PendingOutgoingFile offered = outgoing.files().last();
        const QByteArray id = offered.id.toString(QUuid::WithoutBraces).toUtf8();
        const QByteArray reply = ask("GET /download?id=" + id + " HTTP/1.1\r\n\r\n", "127.0.0.2");
        EXPECT_TRUE(reply.startsWith("HTTP/1.1 500 Internal Server Error")) << reply.constData();
        EXPECT_EQ(bodyOf(reply), "Failed to read file");
        EXPECT_TRUE(test::waitUntil([&] {
            for (const PendingOutgoingFile& file : outgoing.files()) {
                if (file.id == offered.id)
                    return file.status == SendStatus::Failed;
            }
            return false;
        }));
        EXPECT_TRUE(ask("GET /status HTTP/1.1\r\n\r\n", "127.0.0.3").startsWith("HTTP/1.1 200 OK"));
    }
    EXPECT_TRUE(logs.contains("Failed to read file for download: not a regular file"));
    EXPECT_TRUE(sent.files().isEmpty());
}

struct WiFiServerShortQuitTest : WiFiServerTest
{
    WiFiServerShortQuitTest() { connectionWaitMs = 500; }
};

// Guards against stop() waiting for ever for a connection thread held in a call that does not
// return, and against destroying what that thread still uses once it goes on.
TEST_F(WiFiServerShortQuitTest, StopLeavesAStuckConnectionThreadRunningAndSaysSo)
{
    const QString fifo = source.filePath("held");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    RegistryServerBackend registries(peers, outgoing, received, sent);
    test::PipeHeldBackend held(fifo, registries);
    startServer(held);
    std::thread phone([&] {
        RawClient client(port, "127.0.0.2");
        client.send("GET /download?id=1 HTTP/1.1\r\n\r\n");
        client.read();
    });
    ASSERT_TRUE(test::waitUntil([&] { return held.held(); }));
    QElapsedTimer clock;
    clock.start();
    server->stop();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(server->isRunning());
    EXPECT_TRUE(WiFiAdvertiser::connectionsLeftRunning());
    EXPECT_TRUE(logs.contains("A connection still being served at shutdown; left running"));
    server.reset();

    // The thread goes on with its lookup and ends; the phone is closed on, without an answer.
    held.release();
    EXPECT_TRUE(test::waitUntil([] { return !WiFiAdvertiser::connectionsLeftRunning(); }));
    phone.join();
}

// A disk slower than the idle time-out.
struct WiFiServerSlowDiskTest : WiFiServerOneThreadTest
{
    WiFiServerSlowDiskTest() { idleTimeoutMs = 300; }
};

// Guards against closing the connection of a phone that waits for its file's commit: it would
// send the saved file again, and a second copy would appear.
TEST_F(WiFiServerSlowDiskTest, APhoneWaitsForItsCommitHoweverLongItTakes)
{
    const QByteArray reply = upload("slow.txt", "data", [] { QThread::msleep(1000); });
    EXPECT_EQ(jsonOf(reply).value("path").toString(), QDir(quillbayFolder()).filePath("slow.txt"));
    EXPECT_EQ(folderEntries(), QStringList{"slow.txt"});
}

// Guards against a quit that drops the answer of an upload being committed or its record, and
// against running a PIN check at quit for a phone whose connection the quit has ended.
TEST_F(WiFiServerOneThreadTest, QuittingDuringACommitAnswersThePhoneAndRecordsTheFile)
{
    auto quitting = std::make_unique<RegistryServerBackend>(peers, outgoing, received, sent);
    startServer(*quitting);
    pair("127.0.0.3");
    test::holdSyncs(kUploadFlush);
    QByteArray reply;
    std::thread phone([&] {
        RawClient client(port, "127.0.0.2");
        client.send("POST /upload HTTP/1.1\r\nX-File-Name: late.txt\r\nContent-Length: 4\r\n\r\n"
                    "data");
        reply = client.read();
    });
    EXPECT_TRUE(test::waitUntil([] { return test::heldSyncs() > 0; }));
    // From here the GUI thread serves nothing, as after the event loop has ended.
    std::thread pairing([&] {
        RawClient client(port, "127.0.0.3");
        client.send("POST /pair HTTP/1.1\r\nContent-Length: 11\r\n\r\n{\"pin\":\"1\"}");
        client.read();
    });
    EXPECT_TRUE(test::pollUntil([&] { return logs.contains("HTTP POST /pair from 127.0.0.3"); }));
    std::thread disk([] {
        QThread::msleep(300);
        test::releaseSyncs();
    });
    // What the application does at quit: the server stops, then its way to the registries goes.
    server->stop();
    quitting.reset();
    for (std::thread* thread : {&disk, &phone, &pairing})
        thread->join();
    ASSERT_EQ(received.files().size(), 1);
    EXPECT_EQ(received.files().first().url.fileName(), "late.txt");
    EXPECT_EQ(peers.peers().first().token, "T127.0.0.3");
    EXPECT_EQ(jsonOf(reply).value("path").toString(), QDir(quillbayFolder()).filePath("late.txt"));
}

TEST_F(WiFiServerIdleTest, IdleConnectionsAreClosedWithoutAReply)
{
    const bool ok = test::runAsPhone<bool>([&] {
        RawClient first(port);
        RawClient second(port);
        first.send("GET /stat"); // never completed
        return first.read().isEmpty() && first.ended() && second.read().isEmpty() && second.ended();
    });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(test::waitUntil([&] { return server->openConnections() == 0; }));
    EXPECT_TRUE(ask("GET /status HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200 OK"));
}

// Guards against a full server refusing a phone while a connection that has not sent its request
// holds a place, and against a newcomer taking the place of a request that is in.
TEST_F(WiFiServerCapTest, AFullServerGivesAnUnfinishedRequestsPlaceAndClosesNewcomersWhenAllAreIn)
{
    pair("127.0.0.2");
    const QByteArray first = offer(512LL << 20, "127.0.0.2"); // sparse: no disk needed
    const QByteArray second = offer(512LL << 20, "127.0.0.2");
    const auto download = [&](RawClient& client, const QByteArray& id) {
        client.send("GET /download?id=" + id + " HTTP/1.1\r\n\r\n");
        return client.read(4096).size() == 4096; // its request is in
    };
    const bool ok = test::runAsPhone<bool>([&] {
        RawClient downloading(port, "127.0.0.2");
        RawClient unfinished(port, "127.0.0.3");
        unfinished.send("GET /stat");
        if (!download(downloading, first) ||
            !test::pollUntil([&] { return server->openConnections() >= 2; }))
            return false;
        bool answered = false;
        {
            RawClient phone(port, "127.0.0.4");
            phone.send("GET /status HTTP/1.1\r\n\r\n");
            answered = phone.read().startsWith("HTTP/1.1 200 OK");
        }
        const bool evicted = unfinished.read().isEmpty() && unfinished.ended();
        EXPECT_TRUE(answered && evicted);
        if (!test::pollUntil([&] { return server->openConnections() <= 1; }))
            return false;
        RawClient alsoDownloading(port, "127.0.0.2");
        if (!download(alsoDownloading, second))
            return false;
        RawClient refused(port, "127.0.0.5");
        return refused.read().isEmpty() && refused.ended() && server->openConnections() == 2;
    });
    EXPECT_TRUE(ok);
}

// Sends from each of `hosts` `perHost` uploads that never end: the head at once, then the body
// steadily, fast enough for every rate check. A connection the server closes is opened again at
// once, as a hostile host would.
class Flood
{
public:
    Flood(quint16 port, const QList<QByteArray>& hosts, int perHost)
    {
        for (const QByteArray& host : hosts)
            m_sources.insert(m_sources.end(), perHost, host);
        m_fds.assign(m_sources.size(), -1);
        m_thread = std::thread([this, port] { run(port); });
    }
    ~Flood()
    {
        m_stop = true;
        m_thread.join();
        for (int fd : m_fds)
            if (fd >= 0)
                ::close(fd);
    }
    int reopened() const { return m_reopened; }

private:
    void run(quint16 port)
    {
        const QByteArray piece(512, 'f');
        while (!m_stop) {
            for (size_t i = 0; i < m_fds.size(); ++i) {
                int& fd = m_fds[i];
                char byte = 0;
                if (fd >= 0) {
                    const ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
                    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                        ::close(fd);
                        fd = -1;
                        ++m_reopened;
                    }
                }
                if (fd < 0) {
                    fd = ::socket(AF_INET, SOCK_STREAM, 0);
                    sockaddr_in local{AF_INET, 0, {}, {}};
                    ::inet_pton(AF_INET, m_sources[i].constData(), &local.sin_addr);
                    sockaddr_in server{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
                    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
                    ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server);
                    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                    const QByteArray head =
                        "POST /upload HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n";
                    ::send(fd, head.constData(), size_t(head.size()), MSG_NOSIGNAL);
                }
                ::send(fd, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL);
            }
            QThread::msleep(50);
        }
    }

    std::vector<QByteArray> m_sources;
    std::vector<int> m_fds;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_reopened{0};
    std::thread m_thread;
};

struct WiFiServerFloodTest : WiFiServerTest
{
    WiFiServerFloodTest()
    {
        maxConnections = 30;
        headTimeoutMs = 1000;
        bodyRateWindowMs = 1000;
        minBodyBytesPerWindow = 2048;
    }
};

// Guards against a host that trickles its request a byte at a time holding its connection for as
// long as it likes (each byte restarts the idle time-out), and against such hosts, or ones that
// send their bodies steadily, shutting a phone at a new address out once they hold every place.
TEST_F(WiFiServerFloodTest, SlowRequestsAreCutOffAndAFullServerStillAnswersEveryNewPhone)
{
    // A byte every 100 ms; how long until the server closes on it.
    const auto closedAfterMs = [&](const QByteArray& start) {
        return test::runAsPhone<qint64>([&] {
            RawClient client(port, "127.0.0.7");
            client.send(start);
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 10'000 && client.send("x"))
                QThread::msleep(100);
            return clock.elapsed();
        });
    };
    EXPECT_LT(closedAfterMs("GET /status HTTP/1.1\r\nX-Pad: "), 5000);
    EXPECT_LT(closedAfterMs("POST /pair HTTP/1.1\r\nContent-Length: 1000\r\n\r\n"), 5000);
    EXPECT_LT(closedAfterMs("POST /upload HTTP/1.1\r\nContent-Length: 100000\r\n\r\n"), 5000);
    // Enough for the first window, then a trickle: every window is held to the rate.
    EXPECT_LT(closedAfterMs("POST /upload HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" +
                            QByteArray(4096, 'b')),
              5000);
    EXPECT_TRUE(logs.contains("Closing connection from 127.0.0.7: no request within 1000 ms"));
    EXPECT_TRUE(test::waitUntil([&] { return server->openConnections() == 0; }));
    EXPECT_TRUE(QDir(quillbayFolder()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    Flood flood(
        port, {"127.0.0.20", "127.0.0.21", "127.0.0.22", "127.0.0.23", "127.0.0.24", "127.0.0.25"},
        5);
    ASSERT_TRUE(test::waitUntil([&] { return server->openConnections() == maxConnections; }));
    // A phone's upload, slower than any head but fast enough, outlives the flood's reconnecting.
    const QByteArray body(48 * 1024, 'p');
    QByteArray uploaded;
    std::atomic<bool> answered{false};
    std::thread uploader([&] {
        RawClient client(port, "127.0.0.9");
        client.send("POST /upload HTTP/1.1\r\nX-File-Name: slow.bin\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\n\r\n");
        for (qsizetype done = 0; done < body.size(); done += 4096) {
            client.send(body.mid(done, 4096));
            QThread::msleep(250);
        }
        uploaded = client.read();
        answered = true;
    });
    for (int i = 0; i < 8; ++i) {
        const QByteArray source = "127.0.0." + QByteArray::number(30 + i);
        EXPECT_TRUE(ask("GET /status HTTP/1.1\r\n\r\n", source).startsWith("HTTP/1.1 200 OK"))
            << "try " << i;
        EXPECT_LE(server->openConnections(), maxConnections);
        QThread::msleep(200);
    }
    EXPECT_TRUE(test::waitUntil([&] { return answered.load(); }, 30'000));
    uploader.join();
    EXPECT_EQ(jsonOf(uploaded).value("bytes").toInteger(), body.size()) << uploaded.constData();
    EXPECT_GT(flood.reopened(), 0);
}

struct WiFiServerCrowdTest : WiFiServerTest
{
    WiFiServerCrowdTest() { maxConnections = 20; }
};

// Guards against the connection threads keeping a request's head or its body's progress from the
// eviction: a phone's running uploads would then count as silent, or as the slowest bodies, and be
// cut for connections that send nothing or trickle.
TEST_F(WiFiServerCrowdTest, APhonesUploadsOutliveSilentAndTricklingConnections)
{
    const QByteArray body(256 * 1024, 'u');
    const bool ok = test::runAsPhone<bool>([&] {
        std::vector<std::unique_ptr<RawClient>> uploads;
        for (const char* name : {"one.bin", "two.bin"}) {
            uploads.push_back(std::make_unique<RawClient>(port, "127.0.0.2"));
            uploads.back()->send(QByteArray("POST /upload HTTP/1.1\r\nX-File-Name: ") + name +
                                 "\r\nContent-Length: " + QByteArray::number(body.size()) +
                                 "\r\n\r\n" + body.first(64 * 1024));
        }
        // Both heads are read and both files begun before anyone else comes.
        if (!test::pollUntil([&] {
                return QDir(quillbayFolder()).entryList(QDir::Files | QDir::Hidden).size() == 2;
            }))
            return false;
        std::vector<std::unique_ptr<RawClient>> crowd;
        for (int i = 0; i < 2 * maxConnections; ++i)
            crowd.push_back(
                std::make_unique<RawClient>(port, QByteArray("127.0.1." + QByteArray::number(i))));
        // Trickling bodies, until the silent connections are gone and they give way to each other.
        for (int i = 0; i < 200 && !logs.contains("Closing connection from 127.0.2."); ++i) {
            crowd.push_back(
                std::make_unique<RawClient>(port, QByteArray("127.0.2." + QByteArray::number(i))));
            crowd.back()->send("POST /upload HTTP/1.1\r\nContent-Length: 1000000\r\n\r\nt");
            QThread::msleep(5);
        }
        EXPECT_TRUE(logs.contains("Closing connection from 127.0.2."));
        bool whole = true;
        for (auto& upload : uploads) {
            upload->send(body.sliced(64 * 1024));
            whole = jsonOf(upload->read()).value("bytes").toInteger() == body.size() && whole;
        }
        return whole;
    });
    EXPECT_TRUE(ok);
    EXPECT_FALSE(logs.contains("Closing connection from 127.0.0.2"));
}

// The open-file limit a child of the next test serves under (see below).
constexpr char kChildFileLimit[] = "QB_TEST_CHILD_OPEN_FILE_LIMIT";

// A child run of this test binary, serving under a low open-file limit; it says how far it got on
// its standard output, in lines starting with "child: ".
class LimitedServer
{
public:
    explicit LimitedServer(int limit)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kChildFileLimit, QString::number(limit));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        m_process.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
    }
    ~LimitedServer()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // The rest of the line the child said starting with `word`; empty after `limitMs`.
    QByteArray await(const QByteArray& word, int limitMs = 30'000)
    {
        QDeadlineTimer deadline(limitMs);
        while (!deadline.hasExpired()) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                m_said += line + '\n';
                if (line.startsWith("child: " + word))
                    return line.mid(8 + word.size()) + ' ';
            }
            if (m_process.state() == QProcess::NotRunning)
                break;
            m_process.waitForReadyRead(100);
        }
        ADD_FAILURE() << "the child never said " << word.constData() << "; it said "
                      << (m_said + m_process.readAll()).right(2000).constData();
        return {};
    }
    // Whether it ended well once told to.
    bool end()
    {
        m_process.closeWriteChannel();
        return m_process.waitForFinished(30'000) &&
               m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    QByteArray m_said;
};

// Guards against a server under the open-file limit of a desktop session ending the process (a
// thread started once connections have taken every descriptor cannot make its event loop), leaving
// newcomers queued without an answer, and never accepting again once it ran out (its pause ended
// on a timer of the wrong thread).
TEST_F(WiFiServerTest, AtALowOpenFileLimitTheServerNeitherEndsNorStopsAccepting)
{
    if (qEnvironmentVariableIsSet(kChildFileLimit)) {
        // The child: a hard limit above its soft one, which start-up raises.
        const rlim_t hard = qEnvironmentVariableIntValue(kChildFileLimit);
        const rlimit limit{hard / 2, hard};
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
        EXPECT_EQ(raiseOpenFileLimit().soft, qint64(hard));
        EXPECT_TRUE(logs.contains(
            QStringLiteral("Open-file limit: %1 (was %2; hard limit %1)").arg(hard).arg(hard / 2)));
        startServer(backend);
        const auto say = [](const QByteArray& line) {
            std::printf("child: %s\n", line.constData());
            std::fflush(stdout);
        };
        say("port " + QByteArray::number(port));
        // Every place taken, or every descriptor.
        ASSERT_TRUE(test::waitUntil(
            [&] {
                return server->openConnections() == server->connectionBound() ||
                       logs.contains("Cannot accept connections");
            },
            60'000));
        // As a window does when it repaints: a thread with its own event loop.
        QThread thread;
        thread.start();
        thread.quit();
        ASSERT_TRUE(thread.wait(10'000));
        say("thread");
        ASSERT_TRUE(test::waitUntil([&] { return server->openConnections() == 0; }, 60'000));
        // Everything else takes the rest of the descriptors.
        std::vector<int> taken;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
            taken.push_back(fd);
        say("full");
        EXPECT_TRUE(test::waitUntil([&] { return logs.contains("Cannot accept connections"); }));
        for (const int fd : taken)
            ::close(fd);
        say("freed");
        char byte = 0;
        ::fcntl(0, F_SETFL, O_NONBLOCK);
        test::waitUntil([&] { return ::read(0, &byte, 1) == 0; }, 60'000);
        return;
    }

    rlimit ours{};
    ::getrlimit(RLIMIT_NOFILE, &ours);
    LimitedServer child(int(std::min<rlim_t>(512, ours.rlim_max)));
    port = quint16(child.await("port").trimmed().toUInt());
    ASSERT_NE(port, 0);
    // Far more connections than it has descriptors for, silent, from many addresses; then phones.
    std::vector<std::unique_ptr<RawClient>> silent;
    const QByteArray body(100'000, 'b');
    const bool served = test::runAsPhone<bool>([&] {
        for (int i = 0; i < 600; ++i)
            silent.push_back(std::make_unique<RawClient>(
                port, QByteArray("127.0." + QByteArray::number(10 + i / 200) + "." +
                                 QByteArray::number(i % 200))));
        RawClient phone(port, "127.0.0.2");
        phone.send("POST /upload HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + body);
        const bool uploaded = jsonOf(phone.read()).value("bytes").toInteger() == body.size();
        RawClient other(port, "127.0.0.3");
        other.send("GET /status HTTP/1.1\r\n\r\n");
        return uploaded && other.read().startsWith("HTTP/1.1 200 OK");
    });
    EXPECT_TRUE(served);
    ASSERT_FALSE(child.await("thread").isNull());
    silent.clear();
    ASSERT_FALSE(child.await("full").isNull());
    const bool refused = test::runAsPhone<bool>([&] {
        RawClient client(port, "127.0.0.4");
        client.send("GET /status HTTP/1.1\r\n\r\n");
        return client.read().isEmpty() && client.ended();
    });
    EXPECT_TRUE(refused) << "left waiting in the listen queue";
    ASSERT_FALSE(child.await("freed").isNull());
    EXPECT_TRUE(ask("GET /status HTTP/1.1\r\n\r\n", "127.0.0.5").startsWith("HTTP/1.1 200 OK"));
    EXPECT_TRUE(child.end());
}

// The answers to a connection's thread: the server's end-to-end tests cover the ordinary ones.
class RegistryServerBackendTest : public WiFiServerTest
{
protected:
    void SetUp() override
    {
        WiFiServerTest::SetUp();
        context->moveToThread(&thread);
        anchor->moveToThread(&thread);
        thread.start();
        peers.touch("10.0.0.9", QString("Pixel"));
    }
    void TearDown() override
    {
        onConnection([this] {
            delete context;
            delete anchor;
        });
        thread.quit();
        thread.wait();
        WiFiServerTest::TearDown();
    }
    // Runs `work` on the connection's thread; returns once it and all posted there before ran.
    void onConnection(std::function<void()> work)
    {
        QMetaObject::invokeMethod(anchor, std::move(work), Qt::BlockingQueuedConnection);
    }
    void verifyPIN(RegistryServerBackend& backend)
    {
        onConnection([&] {
            backend.verifyPIN("10.0.0.9", peers.peers().first().pin, context,
                              [this](std::optional<QString> token) {
                                  QMutexLocker lock(&mutex);
                                  answers.append(token);
                              });
        });
    }
    qsizetype answerCount()
    {
        QMutexLocker lock(&mutex);
        return answers.size();
    }

    QMutex mutex;
    QList<std::optional<QString>> answers;
    QThread thread;
    QObject* context = new QObject;
    QObject* anchor = new QObject;
};

TEST_F(RegistryServerBackendTest, BusyGuiThreadGetsTheEmptyAnswersAndLateAnswersAreDropped)
{
    RegistryServerBackend backend(peers, outgoing, received, sent, 50);
    pair("10.0.0.8");
    verifyPIN(backend);
    std::atomic<int> reconnected{-1};
    onConnection([&] {
        backend.verifyToken("10.0.0.7", "T10.0.0.8", context,
                            [&](bool ok) { reconnected = ok ? 1 : 0; });
    });
    // Waits without serving the GUI queue, as a busy GUI thread would.
    ASSERT_TRUE(test::pollUntil([&] { return answerCount() == 1 && reconnected >= 0; }));
    EXPECT_FALSE(answers.first());
    EXPECT_EQ(reconnected, 0);         // not accepted
    QCoreApplication::processEvents(); // the GUI thread gets to them at last
    onConnection([] {});
    EXPECT_EQ(answerCount(), 1);
    // Guards against running the abandoned checks late: the PIN check would issue a token nobody
    // received, the token check move the phone to where nobody was told it is.
    EXPECT_FALSE(peers.peers().first().token);
    EXPECT_EQ(peers.peers().last().host, "10.0.0.8");
}

TEST_F(RegistryServerBackendTest, AnswerForAGoneConnectionIsDroppedAndPostedCallsKeepTheirOrder)
{
    RegistryServerBackend backend(peers, outgoing, received, sent);
    verifyPIN(backend);
    onConnection([this] {
        delete context;
        context = nullptr;
    });
    QCoreApplication::processEvents();
    onConnection([] {});
    EXPECT_EQ(answerCount(), 0);

    // The touch of a new address is applied before the check of the same request.
    std::optional<bool> reconnected;
    onConnection([&] {
        backend.touchPeer("10.0.0.10", QString("Tablet"), std::nullopt);
        backend.verifyToken("10.0.0.10", "no such token", anchor,
                            [&](bool ok) { reconnected = ok; });
    });
    ASSERT_TRUE(test::waitUntil([&] { return peers.peers().size() == 2; }));
    onConnection([] {});
    QCoreApplication::processEvents();
    onConnection([] {});
    EXPECT_EQ(reconnected, false);
}

} // namespace
} // namespace qb
