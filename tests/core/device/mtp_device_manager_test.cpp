#include "core/device/mtp_device_manager.h"

#include "device_fakes.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

QString describe(const DeviceEvent& event)
{
    using Kind = DeviceEvent::Kind;
    return event.kind == Kind::Connected
               ? u"connected %1 %2"_s.arg(event.device.id, event.device.displayName)
           : event.kind == Kind::Disconnected ? u"disconnected "_s + event.deviceId
                                              : u"updated "_s + event.device.id;
}

// Lets `ticks` periods pass, counted by a timer of the same period, so that a timer of the code
// under test had as many chances to fire however slow the machine.
bool letPeriodsPass(std::chrono::milliseconds period, int ticks)
{
    QTimer clock;
    int seen = 0;
    QObject::connect(&clock, &QTimer::timeout, [&] { ++seen; });
    clock.start(period);
    return waitUntil([&] { return seen >= ticks; });
}

class MTPDeviceManagerTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_lister->openGate();
        m_manager.reset();
        QThreadPool::globalInstance()->waitForDone();
    }

    // Debounce and poll periods; an hour never fires.
    void makeManager(MTPDeviceManager::Timing timing)
    {
        auto source = std::make_unique<FakeHotplugSource>(m_sourceLog);
        m_source = source.get();
        m_manager = std::make_unique<MTPDeviceManager>(m_lister, std::move(source), timing);
        m_stream = m_manager->deviceEvents();
    }

    QStringList take()
    {
        QStringList out;
        for (const DeviceEvent& event : m_stream->takeEvents())
            out.append(describe(event));
        return out;
    }

    QStringList collect(int count)
    {
        QStringList got;
        waitUntil([&] {
            got += take();
            return got.size() >= count;
        });
        return got;
    }

    // Lets the listings in flight finish and checks that they reported nothing.
    void expectQuiet()
    {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        EXPECT_TRUE(take().isEmpty());
    }

    void start()
    {
        auto started = m_manager->startMonitoring();
        ASSERT_TRUE(waitUntil([&] { return started.isFinished(); }));
    }

    LogCapture m_log;
    std::shared_ptr<FakeDeviceLister> m_lister = std::make_shared<FakeDeviceLister>();
    std::shared_ptr<QStringList> m_sourceLog = std::make_shared<QStringList>();
    FakeHotplugSource* m_source = nullptr;
    std::unique_ptr<MTPDeviceManager> m_manager;
    std::shared_ptr<DeviceEventStream> m_stream;
};

TEST_F(MTPDeviceManagerTest, BurstGivesOneListingAfterTheDelayAndDeparturesComeFirst)
{
    m_lister->setDevices({listed(u"u2"_s, u"A"_s), listed(u"u3"_s, u"B"_s)});
    makeManager({20ms, 1h});
    start();
    EXPECT_EQ(collect(2), (QStringList{u"connected u2 A"_s, u"connected u3 B"_s}));
    EXPECT_EQ(m_log.lines(), QStringList{u"MTPDeviceManager: starting USB monitoring"_s});

    m_lister->setDevices({listed(u"u9"_s, u"D"_s), listed(u"u3"_s, u"B renamed"_s)});
    for (int i = 0; i < 5; ++i)
        m_source->notify();
    EXPECT_EQ(m_lister->calls(), 1) << "listed before the delay";
    EXPECT_EQ(collect(2), (QStringList{u"disconnected u2"_s, u"connected u9 D"_s}));
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(m_lister->calls(), 2);
    EXPECT_EQ(m_log.count(u"Device connected: D"_s), 1);
    EXPECT_EQ(m_log.count(u"Device disconnected: u2"_s), 1);
    ASSERT_EQ(m_manager->knownDevices().size(), 2);
    EXPECT_EQ(m_manager->knownDevices()[0].displayName, u"B"_s) << "kept as first reported";

    // A rescan without change says nothing; an explicit scan reports every phone, unlogged.
    m_source->notify();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 3; }));
    expectQuiet();
    auto scan = m_manager->scanNow();
    ASSERT_TRUE(waitUntil([&] { return scan.isFinished(); }));
    EXPECT_EQ(scan.result().size(), 2);
    EXPECT_EQ(collect(2).size(), 2);
    EXPECT_EQ(m_log.lines().size(), 3);
}

TEST_F(MTPDeviceManagerTest, PollListsOnlyWhileNoPhoneIsKnown)
{
    makeManager({0ms, 5ms});
    start();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() >= 4; })) << "the poll does not list";

    m_lister->setDevices({listed(u"u3"_s, u"Acme"_s)});
    EXPECT_EQ(collect(1), QStringList{u"connected u3 Acme"_s});
    QThreadPool::globalInstance()->waitForDone();
    const int callsWhileKnown = m_lister->calls();
    ASSERT_TRUE(letPeriodsPass(5ms, 20));
    EXPECT_EQ(m_lister->calls(), callsWhileKnown) << "the poll listed while a phone was known";

    // Once the last phone has left, the poll resumes.
    m_lister->setDevices({});
    m_source->notify();
    EXPECT_EQ(collect(1), QStringList{u"disconnected u3"_s});
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() >= callsWhileKnown + 4; }));
}

// Guards against a stray poll: a stop during the initial scan used to leave the poll running.
TEST_F(MTPDeviceManagerTest, StopEndsStreamAndPollAndAStartRenewsThemAndRepeatsKnownPhones)
{
    makeManager({1h, 5ms});
    m_lister->closeGate();
    auto started = m_manager->startMonitoring();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 1; }));
    m_manager->stopMonitoring();
    m_lister->openGate();
    ASSERT_TRUE(waitUntil([&] { return started.isFinished(); }));
    ASSERT_TRUE(letPeriodsPass(5ms, 20));
    EXPECT_EQ(m_lister->calls(), 1) << "a poll runs after the stop";

    m_lister->setDevices({listed(u"u4"_s, u"Acme"_s)});
    for (int run = 0; run < 2; ++run) {
        const auto previous = m_stream;
        EXPECT_TRUE(previous->atEnd());
        m_stream = m_manager->deviceEvents();
        ASSERT_NE(m_stream, previous);
        start();
        start();
        EXPECT_EQ(collect(1), QStringList{u"connected u4 Acme"_s}) << "run " << run;
        EXPECT_EQ(m_lister->calls(), 2 + run) << "a second start scanned again";
        m_manager->stopMonitoring();
        EXPECT_EQ(m_manager->knownDevices().size(), 1) << "a stop keeps the table";
    }
    EXPECT_EQ(m_sourceLog->count(u"start"_s), 3);
}

// Guards against a failed listing being read as "every phone left".
TEST_F(MTPDeviceManagerTest, FailedListingDoesNotReportKnownPhonesAsGone)
{
    m_lister->setDevices({listed(u"u4"_s, u"Acme"_s)});
    makeManager({0ms, 1h});
    start();
    collect(1);

    m_lister->setFailing(true);
    m_source->notify();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 2; }));
    m_source->notify();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 3; }));
    expectQuiet();
    EXPECT_EQ(m_manager->knownDevices().size(), 1);
    EXPECT_EQ(m_log.count(u"Could not list the USB devices"_s), 1);

    m_lister->setFailing(false);
    m_lister->setDevices({});
    m_source->notify();
    EXPECT_EQ(collect(1), QStringList{u"disconnected u4"_s});
}

// Guards against callbacks outliving the manager.
TEST_F(MTPDeviceManagerTest, DestroyingTheManagerStopsMonitoringFirst)
{
    makeManager({0ms, 1h});
    start();
    // A rescan is in the middle of its listing when the manager goes away.
    m_lister->closeGate();
    m_source->notify();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 2; }));
    m_lister->setDevices({listed(u"u4"_s, u"Acme"_s)});
    m_manager.reset();
    EXPECT_EQ(*m_sourceLog, (QStringList{u"start"_s, u"stop"_s, u"destroyed"_s}));
    EXPECT_TRUE(m_stream->isFinished());
    m_lister->openGate();
    expectQuiet();
}

} // namespace
