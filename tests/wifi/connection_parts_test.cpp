#include "platform/local_files.h"
#include "platform/sync_spy.h"
#include "wifi/connection_counter.h"
#include "wifi/download_pump.h"
#include "wifi/http_request_parser.h"
#include "wifi/pin_attempt_limiter.h"
#include "wifi/upload_file_writer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace qb {
namespace {

using Status = HttpParseResult::Status;

// Segmented heads, lower-case methods, oversized heads and a missing path are checked over the
// wire by the server test.
TEST(HttpRequestParser, RequestLineAndHeadLimits)
{
    const QByteArray request = "GET  /download?id=a&b HTTP/1.1 extra\r\nHost: x\r\n\r\n";
    EXPECT_EQ(parseRequestHead(request.chopped(1)).status, Status::Incomplete);
    const HttpParseResult result = parseRequestHead(request + "trailing");
    ASSERT_EQ(result.status, Status::Complete);
    EXPECT_EQ(result.head.method, "GET");
    EXPECT_EQ(result.head.path, "/download?id=a&b");
    EXPECT_EQ(result.head.headLength, request.size());
    EXPECT_EQ(parseRequestHead("GET /x\r\n\r\n").status, Status::Complete); // no version needed
    EXPECT_EQ(parseRequestHead("GET /\xff HTTP/1.1\r\n\r\n").status, Status::BadRequest);
    const QByteArray big = "GET / HTTP/1.1\r\nX-Pad: " + QByteArray(70 * 1024, 'a');
    EXPECT_EQ(parseRequestHead(big).status, Status::BadRequest); // no blank line can save it
    const QByteArray fits = "GET / HTTP/1.1\r\nX-Pad: " + QByteArray(60 * 1024, 'a');
    EXPECT_EQ(parseRequestHead(fits).status, Status::Incomplete);
    EXPECT_EQ(parseRequestHead(fits + "\r\n\r\n").status, Status::Complete);
    // A lone LF does not end a line, so "X-Device-Name" stays part of the request line.
    EXPECT_EQ(parseRequestHead("GET /a\nX-Device-Name: P\r\n\r\n").head.path, "/a\nX-Device-Name:");
}

// Content-Length is checked over the wire by the server test.
TEST(HttpRequestParser, DeviceNameAndFileNameHeaders)
{
    auto head = [](const QByteArray& line) {
        return parseRequestHead("POST / HTTP/1.1\r\n" + line + "\r\n\r\n").head;
    };
    EXPECT_EQ(head("x-DEVICE-name:\t Pixel \t").deviceName, QString("Pixel"));
    EXPECT_FALSE(head("X-Device-Name:").deviceName);            // nothing after the colon
    EXPECT_EQ(head("X-Device-Name:   ").deviceName, QString()); // spaces only: empty name
    EXPECT_EQ(head("X-Device-Name: a:b").deviceName, QString("a:b"));
    EXPECT_FALSE(head("X-Device-Name Pixel").deviceName);
    EXPECT_EQ(head("X-Device-Name: one\r\nX-Device-Name: two").deviceName, QString("two"));
    EXPECT_EQ(head("X-File-Name: %C3%A9t%C3%A9.txt").fileName, QString::fromUtf8("été.txt"));
    for (const char* asSent : {"100%.txt", "a%zz.txt", "bad%FF.txt"}) // malformed or not UTF-8
        EXPECT_EQ(head(QByteArray("X-File-Name: ") + asSent).fileName, QString(asSent));
}

TEST(PinAttemptLimiter, LockOutDoublesAGlobalBurstStopsEverybodyAndStaleAttemptsExpire)
{
    PinAttemptLimiter limiter({.failuresPerHost = 2,
                               .firstLockoutMs = 1000,
                               .failuresInWindow = 5,
                               .windowMs = 10'000,
                               .staleAttemptMs = 5000});
    qint64 now = 0;
    auto fail = [&](const QString& host) {
        EXPECT_TRUE(limiter.beginAttempt(host, now));
        return limiter.recordFailure(host, now);
    };
    EXPECT_FALSE(fail("a"));
    EXPECT_TRUE(fail("a")); // second failure: locked for 1 s
    EXPECT_FALSE(limiter.beginAttempt("a", now + 999));
    now += 1000;
    EXPECT_FALSE(fail("a"));
    EXPECT_TRUE(fail("a")); // locked again, now for 2 s
    EXPECT_FALSE(limiter.beginAttempt("a", now + 1999));
    qint64 retryAfterMs = 0;
    EXPECT_FALSE(limiter.beginAttempt("a", now + 1500, &retryAfterMs));
    EXPECT_EQ(retryAfterMs, 500);
    EXPECT_TRUE(limiter.beginAttempt("b", now));
    EXPECT_FALSE(limiter.recordFailure("b", now));               // 5 failures within the window
    EXPECT_FALSE(limiter.beginAttempt("c", now, &retryAfterMs)); // everybody waits
    EXPECT_EQ(retryAfterMs, 10'000 - now); // until the first of them (at 0) leaves the window
    now += 10'001;
    EXPECT_TRUE(limiter.beginAttempt("c", now));
    EXPECT_TRUE(limiter.beginAttempt("c", now));
    EXPECT_FALSE(limiter.beginAttempt("c", now));       // two still being checked
    EXPECT_TRUE(limiter.beginAttempt("c", now + 5000)); // their answers never came
}

// Guards against a flood of silent connections, once every place is taken, closing a phone's
// running uploads or its poll whose head waits unread (the busiest address went first, and a
// phone holds several), and against a paired phone's body going before a stranger's.
TEST(ConnectionCounter, MissingHeadsGoOldestFirstThenTheSlowestBodyAndAProvenPhonesLast)
{
    qint64 now = 0;
    ConnectionCounter counter(6, [&] { return now; });
    const auto admit = [&](const QString& host, int fd = -1) {
        const ConnectionCounter::Admission admission = counter.admit(host, nullptr, fd);
        EXPECT_TRUE(admission.admitted) << host.toStdString();
        return admission;
    };
    const auto evictedFor = [&](const QString& host) {
        const ConnectionCounter::Admission admission = admit(host);
        counter.release(admission.evictSerial); // as its hub does once it has closed it
        return std::pair(admission.serial, admission.evictSerial);
    };
    // The far ends of two connections: one whose head waits unread, one with half a head.
    int polling[2], halfHead[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, polling), 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, halfHead), 0);
    const QByteArray pollHead = "GET /pending HTTP/1.1\r\n\r\n";
    ::send(polling[1], pollHead.constData(), size_t(pollHead.size()), 0);
    ::send(halfHead[1], "GET /stat", 9, 0);

    const quint64 upload = admit("10.0.0.2").serial;
    const quint64 alsoUpload = admit("10.0.0.2").serial;
    counter.headReceived(upload);
    counter.headReceived(alsoUpload);
    const quint64 poll = admit("10.0.0.2", polling[0]).serial;
    const quint64 trickle = admit("10.0.0.3").serial;
    counter.headReceived(trickle);
    now = 1000;
    const quint64 silent = admit("10.0.0.4", halfHead[0]).serial;
    const quint64 alsoSilent = admit("10.0.0.5").serial;
    now = 10'000;
    counter.bodyReceived(upload, 50'000);
    counter.bodyReceived(alsoUpload, 40'000);
    counter.bodyReceived(trickle, 4096);

    // Missing heads go first, the oldest first, whatever the address.
    const auto [seventh, first] = evictedFor("10.0.0.7");
    EXPECT_EQ(first, silent);
    const auto [eighth, second] = evictedFor("10.0.0.8");
    EXPECT_EQ(second, alsoSilent);
    for (const quint64 answered : {poll, seventh, eighth})
        counter.requestReceived(answered);
    // Only bodies are left unfinished: the slowest goes.
    const auto [ninth, third] = evictedFor("10.0.0.9");
    EXPECT_EQ(third, trickle);

    // A stranger's body goes before those of a phone that proved its token, however fast.
    for (const quint64 closed : {poll, seventh, eighth, ninth})
        counter.release(closed);
    const quint64 reconnect = admit("10.0.0.2").serial;
    counter.requestReceived(reconnect);
    counter.tokenChecked(reconnect);
    const quint64 fast = admit("10.0.0.10").serial;
    counter.headReceived(fast);
    now = 11'000;
    counter.bodyReceived(fast, 1'000'000);
    for (int i = 0; i < 2; ++i)
        counter.requestReceived(admit("10.0.0.11").serial);
    EXPECT_EQ(evictedFor("10.0.0.12").second, fast);
    for (const int fd : {polling[0], polling[1], halfHead[0], halfHead[1]})
        ::close(fd);
}

// Records what the pump asks of its connection; the test plays the connection's completions.
class FakeSink : public DownloadPumpDelegate
{
public:
    struct Chunk
    {
        qint64 offset, length;
        bool last;
    };
    void sendChunk(qint64 offset, qint64 length, bool lastChunk) override
    {
        chunks.push_back({offset, length, lastChunk});
        maxInFlight = std::max(maxInFlight, int(chunks.size() - completed));
    }
    void askCancelled() override
    {
        ++asks;
        calls << "ask";
    }
    void reportProgress(qint64 sentBytes) override
    {
        calls << QStringLiteral("progress %1").arg(sentBytes);
    }
    void clearCancellation() override { calls << "clearCancellation"; }
    void markFailed() override { calls << "failed"; }
    void markCompleted(qint64 bytes) override
    {
        calls << QStringLiteral("completed %1").arg(bytes);
    }
    void abortConnection() override { calls << "abort"; }
    void finishConnection() override { calls << "finish"; }
    double now() override { return clock; }

    // Completes the oldest chunk still in flight.
    void completeNext(DownloadPump& pump, const QString& error = {})
    {
        const Chunk chunk = chunks.at(completed++);
        pump.chunkSent(chunk.length, chunk.last, error);
    }

    std::vector<Chunk> chunks;
    size_t completed = 0;
    int maxInFlight = 0;
    int asks = 0;
    QStringList calls;
    double clock = 1000;
};

const Logger kLog(QStringLiteral("WiFiAdvertiser.Conn"), true);
constexpr qint64 kChunk = DownloadPump::kChunkSize;

TEST(DownloadPump, ChunksCoverTheFileExactlyWithAtMostEightInFlight)
{
    for (qint64 length : {qint64(0), qint64(1), kChunk, kChunk + 1, 20 * kChunk + 77}) {
        SCOPED_TRACE(length);
        FakeSink sink;
        DownloadPump pump(sink, kLog, "ID", length);
        pump.start();
        while (!pump.isFinished()) {
            if (std::exchange(sink.asks, 0) > 0) {
                pump.cancellationAnswered(false);
                continue;
            }
            ASSERT_LT(sink.completed, sink.chunks.size());
            sink.clock += 0.01;
            sink.completeNext(pump);
        }
        qint64 offset = 0;
        for (const FakeSink::Chunk& chunk : sink.chunks) {
            EXPECT_EQ(chunk.offset, offset);
            offset += chunk.length;
            EXPECT_EQ(chunk.last, offset == length);
        }
        EXPECT_EQ(offset, length);
        EXPECT_EQ(qint64(sink.chunks.size()), (length + kChunk - 1) / kChunk); // whole chunks only
        EXPECT_LE(sink.maxInFlight, DownloadPump::kMaxInFlight);
        EXPECT_EQ(sink.calls.mid(sink.calls.size() - 3),
                  QStringList({QStringLiteral("progress %1").arg(length),
                               QStringLiteral("completed %1").arg(length), "finish"}));
    }
}

TEST(DownloadPump, RefillsOnlyAfterTheCancellationAnswerThrottlesProgressAndFailsOnce)
{
    FakeSink sink;
    DownloadPump pump(sink, kLog, "ID", 30 * kChunk);
    pump.start();
    EXPECT_TRUE(sink.chunks.empty()); // nothing goes out before the answer
    pump.cancellationAnswered(false);
    EXPECT_EQ(sink.chunks.size(), 8u);
    sink.completeNext(pump); // first completion reports
    sink.clock += 0.05;
    sink.completeNext(pump);               // 50 ms later: too soon
    EXPECT_EQ(sink.calls.count("ask"), 2); // one question open at a time
    EXPECT_EQ(sink.chunks.size(), 8u);
    pump.cancellationAnswered(false);
    EXPECT_EQ(pump.inFlight(), 8);
    EXPECT_EQ(sink.calls.filter("progress"),
              QStringList{QStringLiteral("progress %1").arg(kChunk)});

    sink.completeNext(pump, QStringLiteral("Broken pipe"));
    sink.completeNext(pump, QStringLiteral("Broken pipe"));
    EXPECT_EQ(sink.calls.count("failed"), 1);
    EXPECT_EQ(sink.calls.last(), "finish");

    FakeSink other;
    DownloadPump second(other, kLog, "ID", 30 * kChunk);
    second.start();
    second.readFailed(QStringLiteral("Connection reset by peer"));
    EXPECT_EQ(other.calls.mid(other.calls.size() - 2), QStringList({"failed", "finish"}));
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes `bytes` as one upload named `name`; the final path.
QString upload(const QString& downloads, const QString& name, const QByteArray& bytes)
{
    UploadFileWriter writer(kLog);
    EXPECT_EQ(writer.open(downloads, 1700000000), UploadFileWriter::Error::None);
    EXPECT_TRUE(writer.write(bytes.constData(), bytes.size()));
    return writer.commit(name).value_or(QString());
}

// Numbering of same names and "../" are checked over the wire by the server test.
TEST(UploadFileWriter, NamesAreReducedToOneSafeComponent)
{
    const QList<std::pair<QString, QString>> names{{"/etc/passwd", "passwd"},
                                                   {"a\\b\\c.txt", "c.txt"},
                                                   {"bad\nname\x01.txt", "badname.txt"},
                                                   {"\u202Etxt.exe", "txt.exe"},
                                                   {"a\u202A\u202B\u202C\u202Db\u2066\u2067\u2068"
                                                    "\u2069\u200E\u200F\u061C.txt",
                                                    "ab.txt"},
                                                   {"..", "received_1700000000"},
                                                   {"dir/", "received_1700000000"},
                                                   {"", "received_1700000000"}};
    for (const auto& [name, reduced] : names)
        EXPECT_EQ(UploadFileWriter::uploadName(name, 1700000000), reduced);
    EXPECT_EQ(UploadFileWriter::uploadName(std::nullopt, 1700000000), "received_1700000000");
    const QString reduced = UploadFileWriter::uploadName(QString(300, u'x') + ".jpeg", 1);
    EXPECT_EQ(reduced.toUtf8().size(), 255);
    EXPECT_TRUE(reduced.endsWith(".jpeg"));
}

// The free name of a taken long name must still be one the file system takes, and still text.
TEST(UploadFileWriter, NumberedNamesStayWithinTheNameLimitAndSplitNoCharacter)
{
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80"); // a surrogate pair, 4 bytes
    const QList<std::pair<QString, QString>> names{{QString(250, u'a'), "jpg"},
                                                   {emoji.repeated(70), "png"},
                                                   {QString(120, QChar(0x20AC)), ""},
                                                   {"a" + emoji.repeated(63), "txt"},
                                                   {"photo", QString(300, u'e')}};
    for (const auto& [base, extension] : names) {
        for (const qint64 n : {1, 12, 100000}) {
            const QString name = LocalFiles::numberedName(base, extension, n);
            SCOPED_TRACE(name.toStdString());
            EXPECT_LE(name.toUtf8().size(), 255);
            EXPECT_EQ(QString::fromUtf8(name.toUtf8()), name); // no half of a pair left
            EXPECT_TRUE(name.contains(QStringLiteral(" (%1)").arg(n)));
            EXPECT_TRUE(extension.size() > 100 || name.endsWith(extension));
        }
    }
    EXPECT_EQ(LocalFiles::numberedName("notes", "", 2), "notes (2)");

    // Through a real folder: a 255-byte name that is taken gets a numbered one that is accepted.
    QTemporaryDir downloads;
    const QString longName = emoji.repeated(62) + "xyz.jpg";
    ASSERT_EQ(longName.toUtf8().size(), 255);
    EXPECT_EQ(QFileInfo(upload(downloads.path(), longName, "1")).fileName(), longName);
    const QString second = QFileInfo(upload(downloads.path(), longName, "2")).fileName();
    EXPECT_EQ(second, emoji.repeated(61) + " (1).jpg");
}

TEST(UploadFileWriter, UploadsAreDurableSimultaneousOnesOfOneNameSurviveAndNoneIsLeftHalfWritten)
{
    QTemporaryDir downloads;
    const QString folder = QDir(downloads.path()).filePath("Quillbay");
    test::clearSyncCalls();
    EXPECT_EQ(upload(downloads.path(), "notes", ""), folder + "/notes");
    // The new folder flushed into its parent; the file under its temporary name, then the folder:
    // durable before the phone hears "ok".
    ASSERT_EQ(test::syncCalls().size(), 3);
    EXPECT_EQ(test::syncCalls()[0], "fsync " + downloads.path());
    EXPECT_TRUE(test::syncCalls()[1].startsWith("fdatasync " + folder + "/.quillbay-upload-"));
    EXPECT_EQ(test::syncCalls()[2], "fsync " + folder);
    EXPECT_EQ(upload(downloads.path(), "notes", "x"), folder + "/notes (1)");

    std::vector<QString> paths(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back(
            [&, i] { paths[i] = upload(downloads.path(), "same", QByteArray::number(i)); });
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(contents(paths[i]), QByteArray::number(i));
    {
        UploadFileWriter unfinished(kLog);
        ASSERT_EQ(unfinished.open(downloads.path(), 1), UploadFileWriter::Error::None);
        ASSERT_TRUE(unfinished.write("partial", 7));
    }
    // Nothing but the ten files: no temporary file is left over.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 10);
}

// Guards against an upload cut off by a crash staying in the received-files folder for ever, that
// folder being listed for every upload, and a user's file that merely looks alike being removed.
TEST(UploadFileWriter, OldLeftoversOfCutOffUploadsAreSweptOnceARun)
{
    QTemporaryDir downloads;
    const QString folder = QDir(downloads.path()).filePath("Quillbay");
    ASSERT_TRUE(QDir().mkpath(folder));
    const auto leftover = [&](const QString& name) {
        QFile file(QDir(folder).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("cut off") == 7 && file.flush());
        file.setFileTime(QDateTime::currentDateTime().addDays(-2), QFile::FileModificationTime);
    };
    const auto tempName = [] {
        return ".quillbay-upload-" + QUuid::createUuid().toString(QUuid::WithoutBraces) + ".part";
    };
    const QString later = tempName();
    leftover(tempName());
    leftover(".quillbay-upload-notes.part");
    upload(downloads.path(), "a.txt", "a");
    leftover(later);
    upload(downloads.path(), "b.txt", "b");
    EXPECT_EQ(
        QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name).join(" ").toStdString(),
        QStringList({later, ".quillbay-upload-notes.part", "a.txt", "b.txt"})
            .join(" ")
            .toStdString());
}

TEST(UploadFileWriter, APlainFileNamedQuillbayIsMovedAsideAndAnUnusableFolderFails)
{
    QTemporaryDir downloads;
    const QString blocker = QDir(downloads.path()).filePath("Quillbay");
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
    file.close();
    UploadFileWriter writer(kLog);
    ASSERT_EQ(writer.open(downloads.path(), 1700000123), UploadFileWriter::Error::None);
    EXPECT_TRUE(QFileInfo(blocker).isDir());
    EXPECT_EQ(contents(QDir(downloads.path()).filePath("Quillbay (old file 1700000123)")), "old");
    // "old" is a plain file, so no folder can be made inside it.
    UploadFileWriter failing(kLog);
    EXPECT_NE(failing.open(QDir(downloads.path()).filePath("Quillbay (old file 1700000123)"), 1),
              UploadFileWriter::Error::None);
}

} // namespace
} // namespace qb
