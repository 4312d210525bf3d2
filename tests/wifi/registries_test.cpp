#include "platform/sync_spy.h"
#include "support/test_support.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <deque>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qb;
using namespace qb::test;
namespace {
// 2001-01-01 00:00:00 UTC plus `seconds`.
QDateTime referenceDate(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(978307200000LL + qint64(seconds * 1000), Qt::UTC);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// Whether only the user may read and write the file.
bool privateToTheUser(const QString& path)
{
    return QFile::permissions(path) ==
           (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

// Runs `work` on a thread of its own, as a connection would, then applies what it posted to this
// (the GUI) thread.
void runOffGuiThread(const std::function<void()>& work)
{
    std::thread(work).join();
    QCoreApplication::processEvents();
}

// Whether `condition` comes true within 20 s while this (the GUI) thread runs no event: what
// other threads do on their own.
bool withoutEvents(const std::function<bool()>& condition)
{
    QDeadlineTimer limit(20'000);
    while (!condition()) {
        if (limit.hasExpired())
            return false;
        QThread::msleep(1);
    }
    return true;
}

// Whether the thread `tid` of this process is asleep now (waiting for another thread, say).
bool sleeping(pid_t tid)
{
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // "<tid> (<name>) <state> ...", where the name may hold anything.
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "S";
}

__extension__ typedef unsigned __int128 Wide;

// A draw that is accepted at once and gives `result`: its product with 1,000,000 has `result` as
// its high half and a low half of at least (2^64 - 1e6) mod 1e6 = 551,616, below which the
// generator draws again.
quint64 drawGiving(quint64 result)
{
    const quint64 low = (1000000 - quint64((Wide(result) << 64) % 1000000)) % 1000000;
    return quint64(((Wide(result) << 64) | (low < 551616 ? low + 1000000 : low)) / 1000000);
}

class WiFiPeerRegistryTest : public ::testing::Test
{
protected:
    void SetUp() override { ensureApplication(); }
    std::unique_ptr<WiFiPeerRegistry> makeRegistry(const QString& folder = QString())
    {
        auto registry =
            std::make_unique<WiFiPeerRegistry>(folder.isEmpty() ? m_dir.path() : folder);
        registry->setClock([this] { return m_now; });
        registry->setRandomSource([this] { return drawGiving(m_nextPin++); }); // 000042, 000043...
        return registry;
    }
    QString storePath() const { return m_dir.filePath(QStringLiteral("wifi_peers.json")); }

    QTemporaryDir m_dir;
    QDateTime m_now = referenceDate(1.5);
    quint64 m_nextPin = 42;
};

} // namespace

TEST(PinGeneratorTest, DrawsSixDigitsWithoutBias)
{
    int count = 0;
    auto pin = [&](std::deque<quint64> draws) {
        count = 0;
        return WiFiPeerRegistry::makePIN([&] {
            ++count;
            const quint64 value = draws.front();
            draws.pop_front();
            return value;
        });
    };
    EXPECT_EQ(pin({~quint64(0)}), "999999");
    EXPECT_EQ(pin({0, drawGiving(42)}), "000042"); // zero's low half is below the threshold
    EXPECT_EQ(count, 2);
}

TEST_F(WiFiPeerRegistryTest, TouchRecordsPeersButNeverLoopbackAndPairingReplacesTheToken)
{
    auto registry = makeRegistry();
    QSignalSpy changed(registry.get(), &WiFiPeerRegistry::peersChanged);
    for (const char* host : {"localhost", "LocalHost", "::1", "127.0.0.1"})
        registry->touch(QString::fromLatin1(host), QStringLiteral("Pixel"));
    EXPECT_FALSE(QFile::exists(storePath()));
    registry->touch("10.0.0.7", std::nullopt);
    EXPECT_EQ(registry->peers(),
              QList<WiFiPeer>({{"10.0.0.7", "Android device", "000042", std::nullopt, m_now}}));
    EXPECT_EQ(changed.count(), 1);
    ASSERT_TRUE(registry->save());
    EXPECT_EQ(readAll(storePath()),
              R"([{"host":"10.0.0.7","lastSeen":1.5,"name":"Android device","pin":"000042"}])");
    EXPECT_TRUE(privateToTheUser(storePath())); // it holds the tokens
    registry->touch("10.0.0.7", QStringLiteral("Pixel"));
    EXPECT_EQ(registry->peers()[0].name, "Pixel");

    EXPECT_FALSE(registry->verifyPIN("10.0.0.7", "42"));
    EXPECT_FALSE(registry->verifyPIN("10.0.0.8", "000042"));
    const std::optional<QString> first = registry->verifyPIN("10.0.0.7", "000042");
    const std::optional<QString> token = registry->verifyPIN("10.0.0.7", "000042");
    ASSERT_TRUE(first && token);
    EXPECT_EQ(token->size(), 36);
    EXPECT_FALSE(registry->verifyToken("10.0.0.7", *first));
    ASSERT_TRUE(registry->save());
    EXPECT_TRUE(readAll(storePath()).contains(("\"token\":\"" + *token + "\"").toUtf8()));

    // A reconnect from a new address moves the paired peer there.
    m_now = referenceDate(60);
    registry->touch("10.0.0.9", QStringLiteral("Pixel"));
    EXPECT_FALSE(registry->verifyToken("10.0.0.9", "nope"));
    EXPECT_TRUE(registry->verifyToken("10.0.0.9", *token));
    ASSERT_EQ(registry->peers().size(), 1); // the touch's unpaired copy is gone
    EXPECT_EQ(registry->peers()[0], (WiFiPeer{"10.0.0.9", "Pixel", "000042", token, m_now}));

    // A new PIN unpairs; removing forgets every peer of the host and the selection.
    registry->regeneratePIN("10.0.0.9");
    EXPECT_FALSE(registry->verifyToken("10.0.0.9", *token));
    EXPECT_TRUE(registry->verifyPIN("10.0.0.9", "000044"));
    registry->setSelectedPeerHost(QStringLiteral("10.0.0.9"));
    registry->remove("10.0.0.9");
    EXPECT_TRUE(registry->peers().isEmpty());
    EXPECT_EQ(registry->selectedPeerHost(), std::nullopt);
}

// Guards against a phone reconnecting from a new address showing twice, with "Forget Device" on
// the copy forgetting the phone too, and against its page falling back while the signals arrive.
TEST_F(WiFiPeerRegistryTest, AReconnectFromANewAddressLeavesOnePhoneWhichTheSelectionFollows)
{
    auto registry = makeRegistry();
    registry->touch("10.0.0.7", QStringLiteral("Pixel")); // PIN 000042
    const std::optional<QString> pixel = registry->verifyPIN("10.0.0.7", "000042");
    registry->touch("10.0.0.8", QStringLiteral("Tab")); // PIN 000043
    const std::optional<QString> tab = registry->verifyPIN("10.0.0.8", "000043");
    ASSERT_TRUE(pixel && tab);
    registry->setSelectedPeerHost(QStringLiteral("10.0.0.7"));
    QStringList heard;
    const auto state = [&] {
        QStringList hosts;
        for (const WiFiPeer& peer : registry->peers())
            hosts << peer.host;
        return hosts.join(' ') + " | " + registry->selectedPeerHost().value_or("-");
    };
    QObject::connect(registry.get(), &WiFiPeerRegistry::peerMoved,
                     [&](const QString& a, const QString& b) {
                         heard << "moved " + a + " " + b + ": " + state();
                     });
    QObject::connect(registry.get(), &WiFiPeerRegistry::peersChanged, [&] { heard << "peers"; });
    QObject::connect(registry.get(), &WiFiPeerRegistry::selectedPeerHostChanged,
                     [&] { heard << "selection"; });

    // The request's own touch records the new address as an unpaired phone first.
    registry->touch("10.0.0.9", QStringLiteral("Pixel"));
    heard.clear();
    EXPECT_TRUE(registry->verifyToken("10.0.0.9", *pixel));
    EXPECT_EQ(heard, QStringList({"moved 10.0.0.7 10.0.0.9: 10.0.0.9 10.0.0.8 | 10.0.0.9", "peers",
                                  "selection"}));
    ASSERT_TRUE(registry->save());
    EXPECT_EQ(makeRegistry()->peers(), registry->peers()); // saved as it stands

    // Again from the same address: nothing moves, no signal but the changed time.
    heard.clear();
    m_now = referenceDate(90);
    EXPECT_TRUE(registry->verifyToken("10.0.0.9", *pixel));
    EXPECT_EQ(heard, QStringList({"peers"}));

    // A paired phone of the address is left alone; the selection stays on the phone it showed.
    heard.clear();
    EXPECT_TRUE(registry->verifyToken("10.0.0.9", *tab));
    EXPECT_EQ(heard,
              QStringList({"moved 10.0.0.8 10.0.0.9: 10.0.0.9 10.0.0.9 | 10.0.0.9", "peers"}));
    // The second phone of an address was not the one it stood for: nothing of it follows.
    heard.clear();
    EXPECT_TRUE(registry->verifyToken("10.0.0.10", *tab));
    EXPECT_EQ(heard, QStringList({"peers"}));

    registry->remove("10.0.0.9");
    ASSERT_EQ(registry->peers().size(), 1);
    EXPECT_EQ(registry->peers()[0].token, tab);
}

TEST_F(WiFiPeerRegistryTest, ReadsTheFileBackAndSetsAnUndecodableOneAside)
{
    writeAll(storePath(),
             R"([{"pin":"004711","name":"Pixel","host":"10.0.0.7","lastSeen":786931200.125,)"
             R"("token":"0A1B2C3D-0000-4000-8000-00000000000F","future":{"x":1}}])");
    EXPECT_EQ(makeRegistry()->peers(),
              QList<WiFiPeer>({{"10.0.0.7", "Pixel", "004711",
                                QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000F"),
                                referenceDate(786931200.125)}}));
    for (const QByteArray content :
         {R"([{"host":"10.0.0.2","name":"B","pin":"000002"}])", // no lastSeen
          R"([{"host":"10.0.0.2","name":"B","pin":2,"lastSeen":1}])", R"({"host":"1"})", "[", ""}) {
        SCOPED_TRACE(content.toStdString());
        writeAll(storePath(), content);
        auto registry = makeRegistry();
        EXPECT_TRUE(registry->peers().isEmpty());
        EXPECT_EQ(readAll(storePath()), content); // untouched until something is saved
        registry->touch("10.0.0.3", QStringLiteral("C"));
        ASSERT_TRUE(registry->save());
        EXPECT_TRUE(
            QFileInfo(registry->setAsidePath()).fileName().startsWith("wifi_peers.json.unr"));
        EXPECT_EQ(readAll(registry->setAsidePath()), content);
        EXPECT_EQ(makeRegistry()->peers(), registry->peers());
    }

    // A failed save is logged and keeps the peer in memory.
    QFile::remove(storePath());
    auto registry = makeRegistry();
    LogCapture log;
    QDir().mkpath(storePath());
    registry->touch("10.0.0.1", QStringLiteral("A"));
    EXPECT_FALSE(registry->save());
    EXPECT_EQ(registry->peers().size(), 1);
    EXPECT_TRUE(log.hasError(QStringLiteral("Could not save")));
}

namespace {

// Runs `work` in a child process after `prepare` (which may fail); whether both returned true.
bool inAChild(const std::function<bool()>& prepare, const std::function<bool()>& work)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(prepare() && work() ? 0 : 1);
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs `work` in a child process whose files cannot grow past `limit` bytes, as on a full disk
// (no privileges needed); whether it returned true there.
bool onAFullDisk(rlim_t limit, const std::function<bool()>& work)
{
    return inAChild(
        [limit] {
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            rlimit size{};
            ::getrlimit(RLIMIT_FSIZE, &size);
            size.rlim_cur = limit;
            return ::setrlimit(RLIMIT_FSIZE, &size) == 0;
        },
        work);
}

// Run as root, tests of files another user left run `work` as nobody, to whom root's files are
// foreign as they are to the user after a run under sudo; else as this user.
constexpr uid_t kNobody = 65534;
bool asTheUser(const std::function<bool()>& work)
{
    return inAChild(
        [] {
            return ::geteuid() != 0 || (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 &&
                                        ::setuid(kNobody) == 0);
        },
        work);
}

} // namespace

// Guards against a save on a full disk replacing the pairings or a history with an empty or a
// truncated file (and every phone then having to pair again): whether the write fails at once
// or half way, the old file stays byte for byte and the failure is logged.
TEST_F(WiFiPeerRegistryTest, AFullDiskLeavesEachFileAsItWas)
{
    auto registry = makeRegistry();
    registry->touch("10.0.0.7", "Pixel");
    ASSERT_TRUE(registry->verifyPIN("10.0.0.7", "000042"));
    registry.reset();
    {
        // Long enough to be written past the save file's buffer.
        ReceivedFilesRegistry history(m_dir.path());
        for (int i = 0; i < 300; ++i)
            history.record(QUrl::fromLocalFile(QStringLiteral("/in/%1.jpg").arg(i)), i, "10.0.0.7",
                           "Pixel");
    }
    const QString historyPath = m_dir.filePath("received_files.json");
    const QByteArray peers = readAll(storePath());
    const QByteArray history = readAll(historyPath);
    ASSERT_GT(history.size(), 32 * 1024);

    for (const rlim_t limit : {rlim_t(0), rlim_t(peers.size() / 2)}) {
        SCOPED_TRACE(limit);
        EXPECT_TRUE(onAFullDisk(limit, [this] {
            LogCapture log;
            auto full = makeRegistry();
            full->touch("10.0.0.8", "Tab");
            return full->peers().size() == 2 && !full->save() &&
                   log.hasError("Could not save " + storePath());
        }));
        EXPECT_EQ(readAll(storePath()), peers);
    }
    for (const rlim_t limit : {rlim_t(0), rlim_t(history.size() / 2)}) {
        SCOPED_TRACE(limit);
        EXPECT_TRUE(onAFullDisk(limit, [&] {
            LogCapture log;
            ReceivedFilesRegistry full(m_dir.path());
            full.record(QUrl::fromLocalFile("/in/new.jpg"), 1, "10.0.0.7", "Pixel");
            return !full.save() && log.hasError("Could not save " + historyPath);
        }));
        EXPECT_EQ(readAll(historyPath), history);
    }
    // No temporary file is left behind, and the phone is still paired after a restart.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"received_files.json", "wifi_peers.json"}));
    EXPECT_TRUE(makeRegistry()->isPaired("10.0.0.7"));
}

// Guards against an answered pairing or record being lost to a power cut: each save of the three
// files flushes their folder once the new name is in it, a folder made for them is flushed into
// its parent, and what a save cut off left beside them goes at the next start.
TEST_F(WiFiPeerRegistryTest, WhatASaveAnsweredSurvivesAPowerCut)
{
    const QString parent = m_dir.filePath("share");
    const QString folder = parent + "/Quillbay";
    clearSyncCalls();
    WiFiPeerRegistry(folder).touch("10.0.0.1", "A");
    EXPECT_TRUE(syncCalls().contains("fsync " + m_dir.path()))
        << syncCalls().join('\n').toStdString();
    EXPECT_TRUE(syncCalls().contains("fsync " + parent));

    // As a save names its temporary; and names a user may give a copy, which stay whatever
    // they look like.
    const QStringList cut = {".wifi_peers.json.quillbay-save-dDX3ld",
                             ".received_files.json.quillbay-save-TmqXhw",
                             ".sent_files.json.quillbay-save-000000"};
    const QStringList others = {"wifi_peers.json",
                                "wifi_peers.json.backup",
                                "wifi_peers.json.MyCopy",
                                "wifi_peers.json.iPhone",
                                "received_files.json.OldBak",
                                "sent_files.json.keepMe",
                                "wifi_peers.json.dDXtld",
                                ".wifi_peers.json.quillbay-save-mine",
                                ".notes.json.quillbay-save-HeOEmc",
                                "wifi_peers.json.unreadable-20260101T000000.000Z"};
    for (const QString& name : cut + others.mid(1))
        writeAll(folder + '/' + name, "{");
    auto peers = makeRegistry(folder);
    ReceivedFilesRegistry received(folder);
    SentFilesRegistry sent(folder);
    QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    QStringList expected = others;
    left.sort();
    expected.sort();
    EXPECT_EQ(left, expected);

    // The file's own flush (of a temporary in the folder, named or not), then the folder's.
    const auto savedThenFlushed = [&] {
        const QStringList calls = syncCalls();
        return calls.size() >= 2 && calls.last() == "fsync " + folder &&
               calls.at(calls.size() - 2).contains(folder + '/');
    };
    clearSyncCalls();
    peers->touch("10.0.0.7", "Pixel");
    ASSERT_TRUE(peers->verifyPIN("10.0.0.7", "000042"));
    ASSERT_TRUE(peers->save());
    EXPECT_TRUE(savedThenFlushed()) << syncCalls().join('\n').toStdString();
    clearSyncCalls();
    received.record(QUrl::fromLocalFile("/in/a.jpg"), 1, "10.0.0.7", "Pixel");
    ASSERT_TRUE(received.save());
    EXPECT_TRUE(savedThenFlushed()) << syncCalls().join('\n').toStdString();

    // A cleanup removed the whole folder: the next save makes it again, with every pairing.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_TRUE(peers->save());
    EXPECT_TRUE(makeRegistry(folder)->isPaired("10.0.0.7"));
}

// Guards against every save being abandoned where the file system keeps no permissions (FAT or
// exFAT through FUSE answer fchmod with EPERM): the save goes ahead and the log says so once. Any
// other failure to make the file private still fails the save.
TEST_F(WiFiPeerRegistryTest, ASaveWhereNoPermissionsAreKeptGoesAhead)
{
    auto registry = makeRegistry();
    LogCapture log;
    failChmodsWith(EPERM, m_dir.path());
    registry->touch("10.0.0.7", "Pixel");
    const bool paired = registry->verifyPIN("10.0.0.7", "000042").has_value();
    const bool savedWithoutPermissions = registry->save();
    failChmodsWith(EIO, m_dir.path());
    const QByteArray before = readAll(storePath());
    registry->touch("10.0.0.8", "Tab");
    const bool savedDespiteFailure = registry->save();
    failChmodsWith(0);
    EXPECT_TRUE(paired && savedWithoutPermissions);
    EXPECT_FALSE(savedDespiteFailure);
    EXPECT_EQ(readAll(storePath()), before);
    EXPECT_TRUE(makeRegistry()->isPaired("10.0.0.7"));
    EXPECT_EQ(log.lines().filter("keeps no permissions").size(), 1);
    EXPECT_TRUE(log.hasError("Could not save " + storePath()));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"wifi_peers.json"}));
}

// Guards against the pairings' saves holding the GUI thread for as long as the disk takes (the
// window froze for seconds at each pairing, reconnect and poll on a slow disk), against a pairing
// answered before the disk holds its token, and against a token check that changes nothing being
// written.
TEST_F(WiFiPeerRegistryTest, PairingsAreWrittenOffTheGuiThreadAndAnsweredOnceOnTheDisk)
{
    auto registry = makeRegistry();
    registry->touch("10.0.0.7", "Pixel"); // PIN 000042
    holdSyncs(m_dir.path());
    registry->shutdown(); // hands the touch over: its write now waits for the disk
    ASSERT_TRUE(withoutEvents([] { return heldSyncs() == 1; }));
    const QStringList syncsBefore = syncCalls();

    // Meanwhile the GUI thread pairs, touches and moves phones, and is never held up.
    QThread connection;
    auto* context = new QObject;
    context->moveToThread(&connection);
    connection.start();
    std::atomic<bool> answered = false;
    std::optional<QString> token;
    bool onDisk = false;
    QMetaObject::invokeMethod(context, [&] {
        registry->verifyPINOnMainActor("10.0.0.7", "000042", context, [&](auto answer) {
            token = answer;
            onDisk = answer && readAll(storePath()).contains(answer->toUtf8());
            answered = true;
        });
    });
    EXPECT_TRUE(waitUntil([&] { return registry->peers().first().token.has_value(); }));
    registry->touch("10.0.0.8", "Tab");
    EXPECT_TRUE(registry->verifyToken("10.0.0.9", *registry->peers().first().token));
    registry->regeneratePIN("10.0.0.8");
    EXPECT_EQ(heldSyncs(), 1);
    EXPECT_EQ(syncCalls(), syncsBefore); // nothing waited for the disk, nor got past it
    EXPECT_FALSE(waitUntil([&] { return answered.load(); }, 300));
    releaseSyncs();
    const bool ended = waitUntil([&] { return answered.load(); });
    QMetaObject::invokeMethod(context, [context] { delete context; });
    connection.quit();
    connection.wait();
    ASSERT_TRUE(ended && token);
    EXPECT_TRUE(onDisk);
    ASSERT_TRUE(registry->save());
    EXPECT_EQ(makeRegistry()->peers(), registry->peers());

    // A reconnect from where the phone is, within the same moment, has nothing to write.
    clearSyncCalls();
    EXPECT_TRUE(registry->verifyToken("10.0.0.9", *token));
    EXPECT_TRUE(registry->save());
    EXPECT_EQ(syncCalls(), QStringList());
}

// Guards against a file the user cannot read (another user's, after a run under sudo) being taken
// for an undecodable one, set aside and replaced, so that the pairings and history the user still
// has were lost: it is left exactly as it is, nothing is saved over it and the registry says which
// file and why. So is everything in a data folder the user cannot write.
TEST_F(WiFiPeerRegistryTest, AFileThatCannotBeReadIsLeftExactlyAsItIs)
{
    {
        auto registry = makeRegistry();
        registry->touch("10.0.0.7", "Pixel");
        ASSERT_TRUE(registry->verifyPIN("10.0.0.7", "000042"));
        ReceivedFilesRegistry received(m_dir.path());
        received.record(QUrl::fromLocalFile("/in/a.jpg"), 1, "10.0.0.7", "Pixel");
        SentFilesRegistry sent(m_dir.path());
        sent.record(QUrl::fromLocalFile("/out/b.pdf"), 2, "10.0.0.7");
    }
    const QStringList names = {"received_files.json", "sent_files.json", "wifi_peers.json"};
    QList<QByteArray> contents;
    const bool root = ::geteuid() == 0;
    const QByteArray folderPath = QFile::encodeName(m_dir.path());
    ASSERT_EQ(root ? ::chown(folderPath.constData(), kNobody, kNobody) : 0, 0);
    for (const QString& name : names) {
        contents << readAll(m_dir.filePath(name));
        ASSERT_FALSE(contents.last().isEmpty());
        // Root's 0600 files are foreign to nobody; the user's own made unreadable otherwise.
        ASSERT_EQ(root ? 0 : ::chmod(QFile::encodeName(m_dir.filePath(name)).constData(), 0), 0);
    }
    EXPECT_TRUE(asTheUser([&] {
        auto peers = makeRegistry();
        ReceivedFilesRegistry received(m_dir.path());
        peers->touch("10.0.0.8", "Tab");
        received.record(QUrl::fromLocalFile("/in/c.jpg"), 3, "10.0.0.8", "Tab");
        const QString owner = root ? QStringLiteral("; it belongs to root.") : QString();
        return peers->fileProblem() ==
                   "\u201c" + storePath() + "\u201d cannot be read (Permission denied)" + owner &&
               received.fileProblem().contains("received_files.json\u201d cannot be read") &&
               peers->peers().size() == 1 && !peers->save() && !received.save();
    }));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), names);
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(readAll(m_dir.filePath(names[i])), contents[i]) << names[i].toStdString();

    // A first start under sudo made the data folder: the user's start writes nothing into it.
    const QString folder = m_dir.filePath("root's");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), root ? 0755 : 0555), 0);
    EXPECT_TRUE(asTheUser([&] {
        WiFiPeerRegistry peers(folder);
        peers.touch("10.0.0.8", "Tab");
        return peers.fileProblem().contains("cannot be written (Permission denied)") &&
               peers.fileProblem().contains(folder) && !peers.save();
    }));
    EXPECT_TRUE(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

// Guards against requests growing the peers and their file without bound, and against a write
// of the file for every request.
TEST_F(WiFiPeerRegistryTest, RequestsCannotGrowThePeersAndTouchesAreWrittenOncePerSecond)
{
    auto registry = makeRegistry();
    registry->touch("10.0.0.1", "Paired");
    ASSERT_TRUE(registry->verifyPIN("10.0.0.1", "000042"));
    ASSERT_TRUE(registry->save());
    const QByteArray paired = readAll(storePath());
    // Far enough apart that the least recently seen make room (a burst is the next test's).
    for (int i = 0; i < 1000; ++i) {
        m_now = m_now.addSecs(10);
        registry->touch(QStringLiteral("127.0.%1.%2").arg(i / 250).arg(i % 250 + 2),
                        QString(300, u'n'));
    }
    const QList<WiFiPeer> peers = registry->peers();
    ASSERT_EQ(peers.size(), 65);
    EXPECT_EQ(peers.at(1).host, "127.0.3.188"); // the paired one, then the 64 latest
    EXPECT_EQ(peers.last().name.size(), 128);
    EXPECT_EQ(readAll(storePath()), paired); // written at most once a second
    EXPECT_TRUE(waitUntil([&] { return readAll(storePath()) != paired; }, 5000));
    EXPECT_EQ(makeRegistry()->peers(), peers);
    registry->touch("10.0.0.2", "Last");
    registry->shutdown(); // at quit, nothing is left unwritten, with no event loop to time it
    EXPECT_TRUE(withoutEvents([&] { return readAll(storePath()).contains("10.0.0.2"); }));
}

// Guards against a burst of new addresses taking the record, and so the PIN, of the phone that
// is being paired.
TEST_F(WiFiPeerRegistryTest, ABurstOfNewAddressesKeepsTheSelectedPhoneAndThoseThatAskedBeforeIt)
{
    auto registry = makeRegistry();
    registry->touch("10.0.0.7", "Selected"); // PIN 000042
    registry->setSelectedPeerHost(QStringLiteral("10.0.0.7"));
    for (int i = 0; i < 62; ++i)
        registry->touch(QStringLiteral("10.1.0.%1").arg(i), std::nullopt);
    m_now = m_now.addSecs(3600);
    registry->touch("10.0.0.8", "Asked just before");
    const QList<WiFiPeer> before = registry->peers();
    ASSERT_EQ(before.size(), WiFiPeerRegistry::kMaxUnpairedPeers);
    for (int i = 0; i < 70; ++i) {
        m_now = m_now.addSecs(1);
        registry->touch(QStringLiteral("10.2.0.%1").arg(i), std::nullopt);
    }
    const QList<WiFiPeer> peers = registry->peers();
    ASSERT_EQ(peers.size(), WiFiPeerRegistry::kMaxUnpairedPeers);
    EXPECT_EQ(peers.at(0), before.at(0)); // selected an hour ago
    EXPECT_EQ(peers.at(1), before.last());
    EXPECT_EQ(peers.at(2).host, "10.2.0.0");   // those not seen for an hour made room first
    EXPECT_EQ(peers.last().host, "10.2.0.69"); // then the burst's newest
    EXPECT_TRUE(registry->verifyPIN("10.0.0.7", "000042"));
}

namespace {

class TransferRecordsTest : public ::testing::Test
{
protected:
    void SetUp() override { ensureApplication(); }
    template <typename Registry> std::unique_ptr<Registry> make()
    {
        auto registry = std::make_unique<Registry>(m_dir.path());
        registry->setClock([this] { return m_now; });
        return registry;
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
    QDateTime m_now = referenceDate(786931200.5);
};

} // namespace

// The server's end-to-end test covers what an upload and a download record, and their order.
TEST_F(TransferRecordsTest, TheFileHoldsEveryFieldAndHistoriesComeBackAfterARestart)
{
    auto received = make<ReceivedFilesRegistry>();
    auto sent = make<SentFilesRegistry>();
    received->record(QUrl::fromLocalFile("/d/\u00fc b#?.txt"), 1LL << 40, "fe80::1", "Phone \"1\"");
    received->record(QUrl::fromLocalFile("/d/r%20"), 0, "h", "n");
    sent->record(QUrl::fromLocalFile("/tmp/report.pdf"), 4096, "10.0.0.8");
    ASSERT_TRUE(received->save() && sent->save());
    const QString id = sent->files()[0].id.toString(QUuid::WithoutBraces).toUpper();
    EXPECT_EQ(
        readAll(path("sent_files.json")),
        R"([{"bytes":4096,"id":")" + id.toUtf8() +
            R"(","recipientHost":"10.0.0.8","sentAt":786931200.5,"url":"file:///tmp/report.pdf"}])");
    EXPECT_TRUE(privateToTheUser(path("received_files.json")));
    EXPECT_EQ(make<ReceivedFilesRegistry>()->files(), received->files());
    EXPECT_EQ(make<SentFilesRegistry>()->files(), sent->files());
}

// A failed write is checked with the peers: the three share the file code.
TEST_F(TransferRecordsTest, AnUndecodableHistoryIsSetAside)
{
    const QByteArray record = R"({"id":"0A1B2C3D-0000-4000-8000-00000000000F","url":"file:///x",)"
                              R"("bytes":1,"receivedAt":1,"senderHost":"h")";
    for (const QByteArray& content :
         {"[" + record + "}]", "[" + record + R"(,"senderName":3}])",
          "[" + record + R"(,"senderName":"n"}])" + "x", QByteArray(R"([null])")}) {
        SCOPED_TRACE(content.toStdString());
        writeAll(path("received_files.json"), content);
        auto registry = make<ReceivedFilesRegistry>();
        EXPECT_TRUE(registry->files().isEmpty());
        registry->record(QUrl::fromLocalFile("/y"), 2, "h", "n");
        ASSERT_TRUE(registry->save());
        EXPECT_EQ(readAll(registry->setAsidePath()), content);
        EXPECT_EQ(make<ReceivedFilesRegistry>()->files(), registry->files());
    }
}

// Guards against each record rewriting the whole history on the GUI thread (a burst of uploads
// onto a long history froze the window): a burst is written once, a moment later; a write the
// disk holds up is never followed by an older list; what is unwritten at quit is written then.
TEST_F(TransferRecordsTest, ABurstIsWrittenOnceInOrderAndWhatIsLeftAtQuit)
{
    const auto url = [](int i) {
        return QUrl::fromLocalFile(QStringLiteral("/in/%1.jpg").arg(i));
    };
    const auto writes = [this] {
        return syncCalls().filter(m_dir.path() + '/').size(); // the files', not their folder's
    };
    auto registry = make<ReceivedFilesRegistry>();
    clearSyncCalls();
    runOffGuiThread([&] {
        for (int i = 0; i < 300; ++i)
            registry->recordTask(url(i), i, "10.0.0.7", "Pixel");
    });
    ASSERT_EQ(registry->files().size(), 300);
    EXPECT_FALSE(QFile::exists(path("received_files.json")));
    ASSERT_TRUE(waitUntil([&] { return make<ReceivedFilesRegistry>()->files().size() == 300; }));
    EXPECT_EQ(make<ReceivedFilesRegistry>()->files(), registry->files());
    EXPECT_EQ(writes(), 1);

    clearSyncCalls();
    holdSyncs(m_dir.path());
    registry->record(url(300), 1, "h", "n");
    EXPECT_FALSE(registry->save(QDeadlineTimer(0))); // the quit's wait runs out
    ASSERT_TRUE(waitUntil([] { return heldSyncs() == 1; }));
    registry->record(url(301), 1, "h", "n");
    EXPECT_FALSE(registry->save(QDeadlineTimer(0)));
    registry->record(url(302), 1, "h", "n");
    EXPECT_FALSE(registry->save(QDeadlineTimer(0)));
    releaseSyncs();
    EXPECT_TRUE(registry->save());
    EXPECT_EQ(writes(), 2); // the held list, then the newest; the one between was outdated
    EXPECT_EQ(make<ReceivedFilesRegistry>()->files(), registry->files());

    registry->record(url(303), 1, "h", "n");
    registry.reset();
    EXPECT_EQ(make<ReceivedFilesRegistry>()->files().size(), 304);
    auto sent = make<SentFilesRegistry>();
    for (int i = 0; i < 50; ++i)
        sent->record(url(i), i, "10.0.0.7");
    sent.reset();
    EXPECT_EQ(make<SentFilesRegistry>()->files().size(), 50);

    // A steady stream of records, one every 100 ms, is written while it goes on.
    registry = make<ReceivedFilesRegistry>();
    int streamed = 0;
    while (streamed < 20 && make<ReceivedFilesRegistry>()->files().size() == 304) {
        registry->record(url(400 + streamed++), 1, "h", "n");
        waitUntil([] { return false; }, 100);
    }
    EXPECT_LT(streamed, 20) << "nothing written during two seconds of records";

    // A write refused while the quit already waits for it (a full disk, given room since) is
    // written again by the quit. In this order: the write waits for the disk, the quit begins to
    // wait for it, the write goes on and is refused, and only then is there room again.
    registry.reset();
    const qsizetype before = make<ReceivedFilesRegistry>()->files().size();
    registry = make<ReceivedFilesRegistry>();
    LogCapture log;
    holdSyncs(m_dir.path());
    failRenamesWith(ENOSPC, path("received_files.json"), 1);
    registry->record(url(500), 1, "h", "n");
    ASSERT_TRUE(waitUntil([] { return heldSyncs() == 1; }));
    const pid_t gui = ::gettid();
    std::atomic<bool> quitting = false;
    std::thread disk([&] {
        withoutEvents([&] { return quitting && sleeping(gui); });
        releaseSyncs();
    });
    quitting = true;
    const bool saved = registry->save();
    disk.join();
    EXPECT_TRUE(log.hasError("Could not save " + path("received_files.json")));
    EXPECT_TRUE(saved);
    EXPECT_EQ(make<ReceivedFilesRegistry>()->files().size(), before + 1);
}

using namespace std::chrono_literals;

// The server's end-to-end tests cover offering, fetching and cancelling through the registry.
TEST(PendingOutgoingFilesRegistryTest, ReportsApplyInOrderAndFinishedEntriesLeaveAfterTheirDelay)
{
    ensureApplication();
    QTemporaryDir dir;
    QList<QPair<std::chrono::milliseconds, std::function<void()>>> scheduled;
    PendingOutgoingFilesRegistry registry;
    registry.setClock([] { return referenceDate(100); });
    registry.setScheduler([&](std::chrono::milliseconds delay, std::function<void()> task) {
        scheduled.append({delay, std::move(task)});
    });
    writeAll(dir.filePath("a b"), QByteArray(1234, 'x'));
    registry.enqueue(QUrl::fromLocalFile(dir.filePath("a b")), "10.0.0.7");
    registry.enqueue(QUrl::fromLocalFile(dir.filePath("gone")), "10.0.0.7");
    const QString done = registry.files()[0].id.toString(QUuid::WithoutBraces);
    const QString broken = registry.files()[1].id.toString(QUuid::WithoutBraces);
    EXPECT_EQ(registry.offeredTo("10.0.0.7"),
              (QList<OfferedFile>{{done.toUpper(), "a b", 1234}, {broken.toUpper(), "gone", 0}}));
    EXPECT_EQ(registry.downloadURL("{" + done + "}", "10.0.0.7"), std::nullopt);

    runOffGuiThread([&] {
        registry.markSending(done);
        registry.updateProgress(done, 100);
        registry.updateProgress(done, 200);
        registry.markSending(done); // a second fetch resets neither the start nor the count
        registry.updateProgress("garbage", 999);
        registry.markCompleted(done);
        registry.markFailed(broken);
        registry.markCompleted("{" + done);
    });
    EXPECT_EQ(registry.files()[0].sentBytes, 200);
    EXPECT_EQ(registry.files()[0].sendStartedAt, referenceDate(100));
    EXPECT_EQ(registry.files()[0].status, SendStatus::Completed);
    EXPECT_EQ(registry.files()[1].status, SendStatus::Failed);
    ASSERT_EQ(scheduled.size(), 2);
    EXPECT_EQ(scheduled[0].first, 1500ms);
    EXPECT_EQ(scheduled[1].first, 3000ms);
    scheduled[0].second();
    ASSERT_EQ(registry.files().size(), 1);
    EXPECT_EQ(registry.files()[0].id.toString(QUuid::WithoutBraces), broken);
    scheduled[1].second();
    EXPECT_TRUE(registry.files().isEmpty());
}

// Guards against a removal scheduled by a cut fetch taking out the file a new fetch is sending.
TEST(PendingOutgoingFilesRegistryTest, AFileFetchedAgainIsRemovedOnlyByItsLatestOutcome)
{
    ensureApplication();
    QList<std::function<void()>> scheduled;
    PendingOutgoingFilesRegistry registry;
    registry.setScheduler([&](std::chrono::milliseconds, std::function<void()> task) {
        scheduled.append(std::move(task));
    });
    registry.enqueue(QUrl::fromLocalFile("/nonexistent/cut"), "10.0.0.7");
    registry.enqueue(QUrl::fromLocalFile("/nonexistent/done"), "10.0.0.7");
    const QString cut = registry.files()[0].id.toString(QUuid::WithoutBraces);
    const QString done = registry.files()[1].id.toString(QUuid::WithoutBraces);
    runOffGuiThread([&] {
        registry.markSending(cut);
        registry.markFailed(cut); // the phone cut it; it asks again at once
        registry.markSending(cut);
        registry.markSending(done);
        registry.markCompleted(done); // and fetches the delivered one again
        registry.markSending(done);
    });
    ASSERT_EQ(scheduled.size(), 2);
    scheduled.takeFirst()(); // the failure's removal
    scheduled.takeFirst()(); // the completion's removal
    ASSERT_EQ(registry.files().size(), 2);
    EXPECT_EQ(registry.files()[0].status, SendStatus::Sending);
    EXPECT_EQ(registry.files()[1].status, SendStatus::Sending);

    runOffGuiThread([&] {
        registry.markCompleted(cut);
        registry.markFailed(done);
    });
    ASSERT_EQ(scheduled.size(), 2);
    scheduled.takeFirst()();
    ASSERT_EQ(registry.files().size(), 1);
    EXPECT_EQ(registry.files()[0].status, SendStatus::Failed);
    scheduled.takeFirst()();
    EXPECT_TRUE(registry.files().isEmpty());
}

TEST(PendingOutgoingFilesRegistryTest, ACompletedEntryLeavesByItself)
{
    ensureApplication();
    PendingOutgoingFilesRegistry registry;
    registry.enqueue(QUrl::fromLocalFile("/nonexistent/a"), QStringLiteral("h"));
    registry.markCompleted(registry.files()[0].id.toString(QUuid::WithoutBraces));
    QSignalSpy changed(&registry, &PendingOutgoingFilesRegistry::filesChanged);
    ASSERT_TRUE(changed.wait(5000)); // the posted status change
    EXPECT_EQ(registry.files()[0].status, SendStatus::Completed);
    ASSERT_TRUE(changed.wait(10000)); // the removal
    EXPECT_TRUE(registry.files().isEmpty());
}

// The questions a connection's thread puts to both registries; the answers come back on that
// thread. The server's tests cover the time-out and a connection that goes away meanwhile.
TEST_F(WiFiPeerRegistryTest, ConnectionThreadsAskBothRegistriesAndHearBackOnTheirOwnThread)
{
    const std::unique_ptr<WiFiPeerRegistry> peers = makeRegistry();
    peers->touch("10.0.0.9", QString("Pixel"));
    PendingOutgoingFilesRegistry outgoing;
    outgoing.enqueue(QUrl::fromLocalFile(m_dir.filePath("a.txt")), "10.0.0.9");
    outgoing.enqueue(QUrl::fromLocalFile(m_dir.filePath("b.txt")), "10.0.0.9");
    const QString first = outgoing.files()[0].id.toString(QUuid::WithoutBraces);
    const QString cancelled = outgoing.files()[1].id.toString(QUuid::WithoutBraces);
    outgoing.cancel(outgoing.files()[1].id);

    QThread connection;
    auto* context = new QObject;
    context->moveToThread(&connection);
    connection.start();
    QMutex mutex;
    QStringList answers;
    bool onConnection = true;
    const auto note = [&](const QString& answer) {
        QMutexLocker lock(&mutex);
        onConnection &= QThread::currentThread() == &connection;
        answers << answer;
    };
    using Phone = PendingOutgoingFilesRegistry::AskingPhone;
    const Phone paired = [&] {
        return peers->phoneAt("10.0.0.9");
    };
    QMetaObject::invokeMethod(context, [&] {
        peers->verifyPINOnMainActor("10.0.0.9", "000041", context,
                                    [&](auto token) { note(token ? "token" : "no token"); });
        peers->verifyPINOnMainActor("10.0.0.9", "000042", context, [&](auto token) {
            note(token ? "token" : "no token");
            peers->verifyTokenOnMainActor("10.0.0.7", token.value_or(""), context,
                                          [&](bool ok) { note(ok ? "reconnected" : "refused"); });
        });
        // Asked after the PIN check: the host is paired by then.
        for (const Phone& phone : {paired, Phone([] { return std::nullopt; })})
            outgoing.listForHostTask("10.0.0.9", phone, context, [&](const auto& files) {
                note(QString::number(files.size()) + " offered");
            });
        for (const char* host : {"10.0.0.9", "10.0.0.8"})
            outgoing.downloadURLTask(
                first.toLower(), host, paired, context,
                [&](const std::optional<QUrl>& url) { note(url ? url->fileName() : "no file"); });
        for (const QString& id : {cancelled.toLower(), first})
            outgoing.isCancelled(id, context,
                                 [&](bool stopped) { note(stopped ? "cancelled" : "going"); });
    });
    ASSERT_TRUE(waitUntil([&] {
        QMutexLocker lock(&mutex);
        return answers.size() == 9;
    }));
    QMetaObject::invokeMethod(context, [context] { delete context; });
    connection.quit();
    connection.wait();
    // The token comes once the disk has it, the questions asked after it meanwhile.
    const qsizetype token = answers.indexOf("token");
    ASSERT_GE(token, 0);
    answers.removeAt(token);
    EXPECT_EQ(answers, QStringList({"no token", "1 offered", "0 offered", "a.txt", "no file",
                                    "cancelled", "going", "reconnected"}));
    EXPECT_TRUE(onConnection);
    EXPECT_EQ(peers->peers().first().host, "10.0.0.7");
}
