#include "registry_test_support.h"
#include "wifi/wifi_peer_registry.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <deque>

using namespace qb;
using namespace qb::test;

namespace {

__extension__ typedef unsigned __int128 Wide;

// The 64-bit draw whose product with 1,000,000 has `high` as its result and `low` as its low half.
std::optional<quint64> drawFor(quint64 high, quint64 low)
{
    const Wide product = (Wide(high) << 64) | low;
    return product % 1000000 ? std::nullopt : std::optional<quint64>(product / 1000000);
}

// A draw that is accepted at once and gives `result`.
quint64 drawGiving(quint64 result)
{
    quint64 low = (1000000 - quint64((Wide(result) << 64) % 1000000)) % 1000000;
    return *drawFor(result, low < 551616 ? low + 1000000 : low);
}

class WiFiPeerRegistryTest : public ::testing::Test
{
protected:
    void SetUp() override { ensureApplication(); }
    std::unique_ptr<WiFiPeerRegistry> makeRegistry()
    {
        auto registry = std::make_unique<WiFiPeerRegistry>(m_dir.path());
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
    auto pin = [](std::deque<quint64> draws, int* count = nullptr) {
        return WiFiPeerRegistry::makePIN([=]() mutable {
            if (count)
                ++*count;
            const quint64 value = draws.front();
            draws.pop_front();
            return value;
        });
    };
    EXPECT_EQ(pin({*drawFor(42, 832128)}), "000042");
    EXPECT_EQ(pin({~quint64(0)}), "999999");
    // (2^64 - 1e6) mod 1e6 = 551616: low halves below it are drawn again; zero is one of them.
    std::optional<quint64> below, boundary;
    for (quint64 high = 0; high < 1000000 && (!below || !boundary); ++high) {
        below = below ? below : drawFor(high, 551616 - 64); // low halves are multiples of 64
        boundary = boundary ? boundary : drawFor(high, 551616);
    }
    ASSERT_TRUE(below && boundary);
    const QString expected =
        QStringLiteral("%1").arg(quint64((Wide(*boundary) * 1000000) >> 64), 6, 10, QChar('0'));
    int count = 0;
    EXPECT_EQ(pin({0, *below, *boundary}, &count), expected);
    EXPECT_EQ(count, 3);
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
    EXPECT_TRUE(readAll(storePath()).contains(("\"token\":\"" + *token + "\"").toUtf8()));

    // A reconnect from a new address moves the paired peer there.
    m_now = referenceDate(60);
    registry->touch("10.0.0.9", QStringLiteral("Pixel"));
    EXPECT_FALSE(registry->verifyToken("10.0.0.9", "nope"));
    EXPECT_TRUE(registry->verifyToken("10.0.0.9", *token));
    ASSERT_EQ(registry->peers().size(), 2);
    EXPECT_EQ(registry->peers()[0], (WiFiPeer{"10.0.0.9", "Pixel", "000042", token, m_now}));

    // A new PIN unpairs; removing forgets every peer of the host and the selection.
    registry->regeneratePIN("10.0.0.9");
    EXPECT_FALSE(registry->verifyToken("10.0.0.9", *token));
    EXPECT_TRUE(registry->verifyPIN("10.0.0.9", "000044"));
    registry->setSelectedPeerHost(QStringLiteral("10.0.0.9"));
    registry->remove("10.0.0.9");
    EXPECT_TRUE(registry->peers().isEmpty());
    EXPECT_EQ(registry->selectedPeerHost(), std::nullopt);

    runOffGuiThread([&] {
        registry->touchPeerOnMainActor("10.0.0.7", QStringLiteral("Pixel"));
        registry->touchPeerOnMainActor("10.0.0.7", QStringLiteral("Galaxy"));
    });
    EXPECT_EQ(registry->peers()[0].name, "Galaxy");
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
    EXPECT_EQ(registry->peers().size(), 1);
    EXPECT_TRUE(log.hasError(QStringLiteral("Could not save")));
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
