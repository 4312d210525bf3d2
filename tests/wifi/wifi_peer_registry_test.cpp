#include "registry_test_support.h"
#include "wifi/wifi_peer_registry.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <deque>

using namespace qb;
using namespace qb::test;

namespace {

__extension__ typedef unsigned __int128 Wide;

// The 64-bit draw whose product with 1,000,000 has `high` as its result and `low` as its low half,
// if there is one.
std::optional<quint64> drawFor(quint64 high, quint64 low)
{
    const Wide product = (Wide(high) << 64) | low;
    if (product % 1000000 != 0)
        return std::nullopt;
    return quint64(product / 1000000);
}

// A draw that is accepted at once and gives `result`.
quint64 drawGiving(quint64 result)
{
    const quint64 remainder = quint64((Wide(result) << 64) % 1000000);
    quint64 low = (1000000 - remainder) % 1000000;
    if (low < 551616)
        low += 1000000;
    return *drawFor(result, low);
}

class Draws
{
public:
    explicit Draws(std::deque<quint64> values) : m_values(std::move(values)) {}
    WiFiPeerRegistry::RandomSource source()
    {
        return [this] {
            ++m_count;
            const quint64 value = m_values.front();
            m_values.pop_front();
            return value;
        };
    }
    int count() const { return m_count; }

private:
    std::deque<quint64> m_values;
    int m_count = 0;
};

class WiFiPeerRegistryTest : public ::testing::Test
{
protected:
    void SetUp() override { ensureApplication(); }

    std::unique_ptr<WiFiPeerRegistry> makeRegistry()
    {
        auto registry = std::make_unique<WiFiPeerRegistry>(m_dir.path());
        registry->setClock([this] { return m_now; });
        // PINs 000042, 000043, ... so tests can type them.
        registry->setRandomSource([this] { return drawGiving(m_nextPin++); });
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
    // The low half 832128 is the one that makes 42 exact.
    Draws fortyTwo({*drawFor(42, 832128)});
    EXPECT_EQ(WiFiPeerRegistry::makePIN(fortyTwo.source()), QStringLiteral("000042"));

    Draws largest({~quint64(0)});
    EXPECT_EQ(WiFiPeerRegistry::makePIN(largest.source()), QStringLiteral("999999"));

    // (2^64 - 1e6) mod 1e6 = 551616: low halves below it are drawn again; zero is one of them.
    std::optional<quint64> justBelow;
    std::optional<quint64> atBoundary;
    for (quint64 high = 0; high < 1000000 && (!justBelow || !atBoundary); ++high) {
        if (!justBelow)
            justBelow = drawFor(high, 551616 - 64); // products are multiples of 64 in the low half
        if (!atBoundary)
            atBoundary = drawFor(high, 551616);
    }
    ASSERT_TRUE(justBelow && atBoundary);
    const quint64 boundaryResult = quint64((Wide(*atBoundary) * 1000000) >> 64);
    const QString expected = QStringLiteral("%1").arg(boundaryResult, 6, 10, QLatin1Char('0'));

    Draws rejectedFirst({0, *justBelow, *atBoundary});
    EXPECT_EQ(WiFiPeerRegistry::makePIN(rejectedFirst.source()), expected);
    EXPECT_EQ(rejectedFirst.count(), 3);

    Draws acceptedAtOnce({*atBoundary});
    EXPECT_EQ(WiFiPeerRegistry::makePIN(acceptedAtOnce.source()), expected);
    EXPECT_EQ(acceptedAtOnce.count(), 1);

    // The real source gives six digits every time.
    const QString pin =
        WiFiPeerRegistry::makePIN([] { return QRandomGenerator::system()->generate64(); });
    EXPECT_EQ(pin.size(), 6);
}

TEST_F(WiFiPeerRegistryTest, FirstRequestCreatesAnUnpairedPeerAndWritesTheFile)
{
    auto registry = makeRegistry();
    QSignalSpy changed(registry.get(), &WiFiPeerRegistry::peersChanged);
    registry->touch(QStringLiteral("192.168.1.20"), std::nullopt);

    ASSERT_EQ(registry->peers().size(), 1);
    const WiFiPeer peer = registry->peers().first();
    EXPECT_EQ(peer, (WiFiPeer{QStringLiteral("192.168.1.20"), QStringLiteral("Android device"),
                              QStringLiteral("000042"), std::nullopt, m_now}));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(readAll(storePath()),
              R"([{"host":"192.168.1.20","lastSeen":1.5,"name":"Android device","pin":"000042"}])");
    EXPECT_EQ(fileMode(storePath()), 0600);
    EXPECT_EQ(registry->storeURL(), QUrl::fromLocalFile(storePath()));
}

TEST_F(WiFiPeerRegistryTest, LoopbackHostsAreNeverRecorded)
{
    auto registry = makeRegistry();
    for (const char* host : {"localhost", "LocalHost", "LOCALHOST", "::1", "127.0.0.1"})
        registry->touch(QString::fromLatin1(host), QStringLiteral("Pixel"));
    EXPECT_TRUE(registry->peers().isEmpty());
    EXPECT_FALSE(QFile::exists(storePath()));
}

TEST_F(WiFiPeerRegistryTest, HostsDifferingInCaseAreDifferentPeersAndNamesFollowTheHeader)
{
    auto registry = makeRegistry();
    registry->touch(QStringLiteral("fe80::a"), QStringLiteral(""));
    registry->touch(QStringLiteral("FE80::A"), QStringLiteral("Pixel 8"));
    ASSERT_EQ(registry->peers().size(), 2);
    EXPECT_EQ(registry->peers()[0].name, QStringLiteral("Android device"));
    EXPECT_EQ(registry->peers()[1].name, QStringLiteral("Pixel 8"));

    m_now = referenceDate(10);
    registry->touch(QStringLiteral("fe80::a"), QStringLiteral("Galaxy"));
    EXPECT_EQ(registry->peers()[0].name, QStringLiteral("Galaxy"));
    EXPECT_EQ(registry->peers()[0].lastSeen, m_now);
    EXPECT_EQ(registry->peers()[0].pin, QStringLiteral("000042")); // the PIN stays

    // A request without the header renames a known phone back to the default.
    registry->touch(QStringLiteral("fe80::a"), std::nullopt);
    EXPECT_EQ(registry->peers()[0].name, QStringLiteral("Android device"));
    EXPECT_EQ(registry->peers().size(), 2);
}

TEST_F(WiFiPeerRegistryTest, PairingNeedsTheExactPinAndEachPairingReplacesTheToken)
{
    auto registry = makeRegistry();
    const QString host = QStringLiteral("10.0.0.7");
    registry->touch(host, QStringLiteral("Pixel"));

    EXPECT_EQ(registry->verifyPIN(host, QStringLiteral("42")), std::nullopt);
    EXPECT_EQ(registry->verifyPIN(QStringLiteral("10.0.0.8"), QStringLiteral("000042")),
              std::nullopt);
    EXPECT_FALSE(registry->peers()[0].token.has_value());

    const std::optional<QString> first = registry->verifyPIN(host, QStringLiteral("000042"));
    const std::optional<QString> second = registry->verifyPIN(host, QStringLiteral("000042"));
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(second->size(), 36);
    EXPECT_EQ(*second, second->toUpper());
    EXPECT_EQ(registry->peers()[0].token, second);
    EXPECT_EQ(registry->peers()[0].lastSeen, referenceDate(1.5)); // pairing does not touch it
    EXPECT_TRUE(readAll(storePath()).contains(("\"token\":\"" + *second + "\"").toUtf8()));

    EXPECT_FALSE(registry->verifyToken(host, *first));
    EXPECT_TRUE(registry->verifyToken(host, *second));
}

TEST_F(WiFiPeerRegistryTest, ReconnectFromANewAddressMovesThePairedPeer)
{
    auto registry = makeRegistry();
    registry->touch(QStringLiteral("10.0.0.7"), QStringLiteral("Pixel"));
    const QString token =
        *registry->verifyPIN(QStringLiteral("10.0.0.7"), QStringLiteral("000042"));

    // The server records the sender before it checks the token.
    m_now = referenceDate(60);
    registry->touch(QStringLiteral("10.0.0.9"), QStringLiteral("Pixel"));
    EXPECT_TRUE(registry->verifyToken(QStringLiteral("10.0.0.9"), token));
    EXPECT_FALSE(registry->verifyToken(QStringLiteral("10.0.0.9"), QStringLiteral("nope")));

    const QList<WiFiPeer> peers = registry->peers();
    ASSERT_EQ(peers.size(), 2);
    EXPECT_EQ(peers[0].host, QStringLiteral("10.0.0.9"));
    EXPECT_EQ(peers[0].token, token);
    EXPECT_EQ(peers[0].pin, QStringLiteral("000042"));
    EXPECT_EQ(peers[0].lastSeen, m_now);
    EXPECT_EQ(peers[1].host, QStringLiteral("10.0.0.9"));
    EXPECT_FALSE(peers[1].token.has_value());
    // Lookups by that host find the older, paired peer first.
    EXPECT_TRUE(registry->verifyPIN(QStringLiteral("10.0.0.9"), QStringLiteral("000042")));
}

TEST_F(WiFiPeerRegistryTest, RegeneratedPinUnpairsThePeer)
{
    auto registry = makeRegistry();
    registry->regeneratePIN(QStringLiteral("10.0.0.7"));
    EXPECT_FALSE(QFile::exists(storePath())); // no peer, no save

    registry->touch(QStringLiteral("10.0.0.7"), QStringLiteral("Pixel"));
    const QString token =
        *registry->verifyPIN(QStringLiteral("10.0.0.7"), QStringLiteral("000042"));
    m_now = referenceDate(2.25);
    registry->regeneratePIN(QStringLiteral("10.0.0.7"));

    EXPECT_EQ(readAll(storePath()),
              R"([{"host":"10.0.0.7","lastSeen":2.25,"name":"Pixel","pin":"000043"}])");
    EXPECT_FALSE(registry->verifyToken(QStringLiteral("10.0.0.7"), token));
    EXPECT_FALSE(registry->verifyPIN(QStringLiteral("10.0.0.7"), QStringLiteral("000042")));
    EXPECT_TRUE(registry->verifyPIN(QStringLiteral("10.0.0.7"), QStringLiteral("000043")));
}

TEST_F(WiFiPeerRegistryTest, RemoveForgetsEveryPeerOfTheHostAndTheSelection)
{
    auto registry = makeRegistry();
    registry->remove(QStringLiteral("10.0.0.1"));
    EXPECT_EQ(readAll(storePath()), "[]"); // written even when nothing was removed

    registry->touch(QStringLiteral("10.0.0.1"), QStringLiteral("A"));
    registry->touch(QStringLiteral("10.0.0.2"), QStringLiteral("B"));
    QSignalSpy selection(registry.get(), &WiFiPeerRegistry::selectedPeerHostChanged);
    registry->setSelectedPeerHost(QStringLiteral("10.0.0.1"));
    registry->setSelectedPeerHost(QStringLiteral("10.0.0.1"));
    EXPECT_EQ(selection.count(), 1);

    registry->remove(QStringLiteral("10.0.0.1"));
    EXPECT_EQ(registry->selectedPeerHost(), std::nullopt);
    EXPECT_EQ(selection.count(), 2);
    ASSERT_EQ(registry->peers().size(), 1);
    EXPECT_EQ(registry->peers()[0].host, QStringLiteral("10.0.0.2"));

    // The next request from a forgotten address starts over with a new PIN.
    registry->touch(QStringLiteral("10.0.0.1"), QStringLiteral("A"));
    EXPECT_EQ(registry->peers()[1].pin, QStringLiteral("000044"));
}

TEST_F(WiFiPeerRegistryTest, ReadsTheFileBackIgnoringExtraKeysAndKeyOrder)
{
    writeAll(storePath(),
             R"([{"pin":"004711","name":"Pixel","host":"10.0.0.7","lastSeen":786931200.125,)"
             R"("token":"0A1B2C3D-0000-4000-8000-00000000000F","future":{"x":1}},)"
             R"({"host":"10.0.0.8","name":"B","pin":"000001","lastSeen":-3,"token":null}])");
    auto registry = makeRegistry();
    ASSERT_EQ(registry->peers().size(), 2);
    EXPECT_EQ(
        registry->peers()[0],
        (WiFiPeer{QStringLiteral("10.0.0.7"), QStringLiteral("Pixel"), QStringLiteral("004711"),
                  QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000F"),
                  referenceDate(786931200.125)}));
    EXPECT_EQ(registry->peers()[1].token, std::nullopt);
    EXPECT_EQ(registry->peers()[1].lastSeen, referenceDate(-3));

    registry->save();
    auto reread = makeRegistry();
    EXPECT_EQ(reread->peers(), registry->peers());
    EXPECT_EQ(readAll(storePath()),
              R"([{"host":"10.0.0.7","lastSeen":786931200.125,"name":"Pixel","pin":"004711",)"
              R"("token":"0A1B2C3D-0000-4000-8000-00000000000F"},)"
              R"({"host":"10.0.0.8","lastSeen":-3,"name":"B","pin":"000001"}])");
}

TEST_F(WiFiPeerRegistryTest, AnUndecodableFileLoadsEmptyAndIsSetAsideBeforeTheFirstSave)
{
    const QByteArray good = R"({"host":"10.0.0.1","name":"A","pin":"000001","lastSeen":1})";
    const QList<QByteArray> broken{
        "[" + good + R"(,{"host":"10.0.0.2","name":"B","pin":"000002"}])", // no lastSeen
        R"([{"host":"10.0.0.2","name":"B","pin":2,"lastSeen":1}])",        // PIN as a number
        R"([{"host":"10.0.0.2","name":"B","pin":"2","lastSeen":"1"}])",    // date as text
        R"([{"host":"10.0.0.2","name":"B","pin":"2","lastSeen":1,"token":7}])",
        R"({"host":"10.0.0.2"})",
        "[" + good,
        "",
    };
    for (const QByteArray& content : broken) {
        SCOPED_TRACE(content.toStdString());
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        writeAll(storePath(), content);

        auto registry = makeRegistry();
        EXPECT_TRUE(registry->peers().isEmpty());
        EXPECT_EQ(readAll(storePath()), content); // untouched until something is saved

        registry->touch(QStringLiteral("10.0.0.3"), QStringLiteral("C"));
        ASSERT_FALSE(registry->setAsidePath().isEmpty());
        EXPECT_TRUE(QFileInfo(registry->setAsidePath())
                        .fileName()
                        .startsWith(QStringLiteral("wifi_peers.json.unreadable-")));
        EXPECT_EQ(readAll(registry->setAsidePath()), content);
        EXPECT_TRUE(readAll(storePath()).contains("10.0.0.3"));
    }
}

TEST_F(WiFiPeerRegistryTest, AFailedSaveIsLoggedAndKeepsThePeerInMemory)
{
    auto registry = makeRegistry();
    LogCapture log;
    QDir().mkpath(storePath()); // a folder where the file should be cannot be replaced
    registry->touch(QStringLiteral("10.0.0.1"), QStringLiteral("A"));
    EXPECT_EQ(registry->peers().size(), 1);
    EXPECT_TRUE(log.hasError(QStringLiteral("Could not save")));

    QDir(storePath()).removeRecursively();
    registry->touch(QStringLiteral("10.0.0.2"), QStringLiteral("B"));
    EXPECT_EQ(makeRegistry()->peers().size(), 2);
}

TEST_F(WiFiPeerRegistryTest, TouchesFromConnectionThreadsApplyInPostingOrder)
{
    auto registry = makeRegistry();
    runOffGuiThread([&] {
        registry->touchPeerOnMainActor(QStringLiteral("10.0.0.7"), QStringLiteral("Pixel"));
        registry->touchPeerOnMainActor(QStringLiteral("10.0.0.9"), std::nullopt);
        registry->touchPeerOnMainActor(QStringLiteral("10.0.0.7"), QStringLiteral("Galaxy"));
    });
    ASSERT_EQ(registry->peers().size(), 2);
    EXPECT_EQ(registry->peers()[0].name, QStringLiteral("Galaxy"));
    EXPECT_EQ(registry->peers()[1].host, QStringLiteral("10.0.0.9"));
}

// Guards against requests growing the peers and their file without bound, and against a write
// of the file for every request.
TEST_F(WiFiPeerRegistryTest, RequestsCannotGrowThePeersAndTouchesAreWrittenOncePerSecond)
{
    auto registry = makeRegistry();
    registry->touch("10.0.0.1", "Paired");
    ASSERT_TRUE(registry->verifyPIN("10.0.0.1", "000042"));
    const QByteArray paired = readAll(storePath());
    for (int i = 0; i < 1000; ++i) {
        m_now = m_now.addSecs(1);
        registry->touch(QStringLiteral("127.0.%1.%2").arg(i / 250).arg(i % 250 + 2),
                        QString(300, u'n'));
    }
    const QList<WiFiPeer> peers = registry->peers();
    ASSERT_EQ(peers.size(), 65);
    EXPECT_EQ(peers.at(1).host, "127.0.3.188"); // the paired one, then the 64 latest
    EXPECT_EQ(peers.last().name.size(), 128);
    EXPECT_EQ(readAll(storePath()), paired); // written at most once a second
    QDeadlineTimer deadline(5000);
    while (readAll(storePath()) == paired && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(makeRegistry()->peers(), peers);
    registry->touch("10.0.0.2", "Last");
    registry->shutdown(); // at quit, nothing is left unwritten
    EXPECT_EQ(makeRegistry()->peers().last().host, "10.0.0.2");
}
