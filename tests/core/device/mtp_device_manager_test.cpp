#include "core/device/mtp_device_manager.h"

#include "device_fakes.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// Timers long enough never to fire unless a test wants them to.
constexpr MTPDeviceManager::Timing kQuiet{1h, 1h};

QString describe(const DeviceEvent& event)
{
    switch (event.kind) {
    case DeviceEvent::Kind::Connected:
        return u"connected %1 %2"_s.arg(event.device.id, event.device.displayName);
    case DeviceEvent::Kind::Disconnected:
        return u"disconnected %1"_s.arg(event.deviceId);
    case DeviceEvent::Kind::Updated:
        return u"updated %1"_s.arg(event.device.id);
    }
    return {};
}

// Lets `ticks` periods of `period` pass on the event loop, counted by a timer of the same period,
// so a timer of the code under test started before had as many chances to fire, however slow
// the machine.
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

    void makeManager(MTPDeviceManager::Timing timing = kQuiet)
    {
        auto source = std::make_unique<FakeHotplugSource>(m_sourceLog);
        m_source = source.get();
        m_manager = std::make_unique<MTPDeviceManager>(m_lister, std::move(source), timing);
    }

    // Reads the events waiting in `stream`, as its consumer would.
    static QStringList take(const std::shared_ptr<DeviceEventStream>& stream)
    {
        QStringList out;
        for (const DeviceEvent& event : stream->takeEvents()) {
            out.append(describe(event));
        }
        return out;
    }

    // Waits until the events gathered from `stream` reach `count`.
    QStringList collect(const std::shared_ptr<DeviceEventStream>& stream, int count)
    {
        waitUntil([&] {
            m_collected += take(stream);
            return m_collected.size() >= count;
        });
        return std::exchange(m_collected, {});
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
    QStringList m_collected;
};

TEST(MTPDeviceManagerDisplayName, FriendlyNameFirstThenTrimmedMakerAndModel)
{
    const auto name = [](QString friendly, QString maker, QString model) {
        return MTPDeviceManager::displayName(
            ListedDevice{u"unknown_1_2"_s, friendly, maker, model, u"serial"_s});
    };
    // The friendly name is taken as it is, outer spaces included.
    EXPECT_EQ(name(u" Pixel 7 "_s, u"Google"_s, u"x"_s), u" Pixel 7 "_s);
    EXPECT_EQ(name({}, u" Acme"_s, u"Phone "_s), u"Acme Phone"_s);
    // Tabs and Unicode space separators go; line breaks stay.
    EXPECT_EQ(name({}, u"\t\u00A0Acme"_s, u"X\u2003"_s), u"Acme X"_s);
    EXPECT_EQ(name({}, u"\nAcme"_s, u"X\n"_s), u"\nAcme X\n"_s);
    EXPECT_EQ(name({}, {}, u"Model"_s), u"Model"_s);
    EXPECT_EQ(name({}, {}, {}), QString());
}

TEST_F(MTPDeviceManagerTest, InitialScanAndExplicitScansReportEveryPhoneWithoutLoggingThem)
{
    m_lister->setDevices(
        {listed(u"unknown_1_4"_s, u"Acme One"_s), listed(u"unknown_1_5"_s, u"Acme Two"_s)});
    makeManager();
    const auto stream = m_manager->deviceEvents();
    start();

    EXPECT_EQ(collect(stream, 2), (QStringList{u"connected unknown_1_4 Acme One"_s,
                                               u"connected unknown_1_5 Acme Two"_s}));
    EXPECT_EQ(m_manager->knownDevices().size(), 2);
    EXPECT_EQ(m_log.lines(), QStringList{u"MTPDeviceManager: starting USB monitoring"_s});
    EXPECT_EQ(*m_sourceLog, QStringList{u"start"_s});

    // An explicit scan reports known phones again, keeps one entry each and logs nothing.
    auto scan = m_manager->scanNow();
    ASSERT_TRUE(waitUntil([&] { return scan.isFinished(); }));
    ASSERT_EQ(scan.result().size(), 2);
    EXPECT_EQ(collect(stream, 2).size(), 2);
    EXPECT_EQ(m_manager->knownDevices().size(), 2);
    EXPECT_EQ(m_log.lines().size(), 1);
}

TEST_F(MTPDeviceManagerTest, BurstOfNotificationsGivesOneListingAfterTheDelay)
{
    makeManager({20ms, 1h});
    const auto stream = m_manager->deviceEvents();
    start();
    ASSERT_EQ(m_lister->calls(), 1);

    m_lister->setDevices({listed(u"unknown_1_7"_s, u"Acme One"_s)});
    for (int i = 0; i < 5; ++i) {
        m_source->notify();
    }
    EXPECT_EQ(m_lister->calls(), 1) << "listed before the delay";
    EXPECT_EQ(collect(stream, 1), QStringList{u"connected unknown_1_7 Acme One"_s});
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(m_lister->calls(), 2);
    EXPECT_EQ(m_log.count(u"Device connected: Acme One"_s), 1);
}

TEST_F(MTPDeviceManagerTest, DeparturesComeBeforeArrivalsAndUnchangedPhonesStayQuiet)
{
    m_lister->setDevices({listed(u"unknown_1_2"_s, u"A"_s), listed(u"unknown_1_3"_s, u"B"_s),
                          listed(u"unknown_1_4"_s, u"C"_s)});
    makeManager({0ms, 1h});
    const auto stream = m_manager->deviceEvents();
    start();
    collect(stream, 3);

    m_lister->setDevices(
        {listed(u"unknown_1_9"_s, u"D"_s), listed(u"unknown_1_3"_s, u"B renamed"_s)});
    m_source->notify();
    const QStringList events = collect(stream, 3);
    // The listing logs each change after reporting it: let it finish before reading the log.
    QThreadPool::globalInstance()->waitForDone();
    ASSERT_EQ(events.size(), 3);
    EXPECT_EQ(QSet<QString>(events.begin(), events.begin() + 2),
              (QSet<QString>{u"disconnected unknown_1_2"_s, u"disconnected unknown_1_4"_s}));
    EXPECT_EQ(events[2], u"connected unknown_1_9 D"_s);
    EXPECT_EQ(m_log.count(u"Device disconnected: unknown_1_2"_s), 1);
    EXPECT_EQ(m_log.count(u"Device connected: D"_s), 1);

    // The known phone keeps its entry as first reported.
    const QList<Device> known = m_manager->knownDevices();
    ASSERT_EQ(known.size(), 2);
    EXPECT_EQ(known[0].displayName, u"B"_s);

    // A rescan that finds no change says nothing.
    m_source->notify();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 3; }));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_TRUE(take(stream).isEmpty());
}

TEST_F(MTPDeviceManagerTest, PollListsOnlyWhileNoPhoneIsKnown)
{
    // This system has no hot-plug support: the poll alone finds phones.
    m_manager = std::make_unique<MTPDeviceManager>(
        m_lister, std::make_unique<FakeHotplugSource>(m_sourceLog, /*supported=*/false),
        MTPDeviceManager::Timing{1h, 5ms});
    const auto stream = m_manager->deviceEvents();
    start();
    EXPECT_EQ(m_log.count(u"Failed to set up USB hot-plug notifications"_s), 1);
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() >= 4; })) << "the poll does not list";

    m_lister->setDevices({listed(u"unknown_2_3"_s, u"Acme"_s)});
    EXPECT_EQ(collect(stream, 1), QStringList{u"connected unknown_2_3 Acme"_s});
    QThreadPool::globalInstance()->waitForDone();
    const int callsWhileKnown = m_lister->calls();
    ASSERT_TRUE(letPeriodsPass(5ms, 20));
    EXPECT_EQ(m_lister->calls(), callsWhileKnown) << "the poll listed while a phone was known";
}

TEST_F(MTPDeviceManagerTest, PollResumesOnceTheLastPhoneHasLeft)
{
    m_lister->setDevices({listed(u"unknown_2_3"_s, u"Acme"_s)});
    makeManager({0ms, 5ms});
    const auto stream = m_manager->deviceEvents();
    start();
    collect(stream, 1);

    m_lister->setDevices({});
    m_source->notify();
    EXPECT_EQ(collect(stream, 1), QStringList{u"disconnected unknown_2_3"_s});
    const int calls = m_lister->calls();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() >= calls + 3; }));
}

TEST_F(MTPDeviceManagerTest, StopThenStartRenewsTheEventStream)
{
    m_lister->setDevices({listed(u"unknown_1_4"_s, u"Acme"_s)});
    makeManager();
    const auto first = m_manager->deviceEvents();
    start();
    collect(first, 1);

    m_manager->stopMonitoring();
    EXPECT_TRUE(first->atEnd());
    EXPECT_FALSE(m_source->isStarted());
    const auto second = m_manager->deviceEvents();
    ASSERT_NE(second, first);
    EXPECT_FALSE(second->isFinished());
    EXPECT_EQ(m_manager->knownDevices().size(), 1) << "a stop keeps the table";

    start();
    EXPECT_EQ(collect(second, 1), QStringList{u"connected unknown_1_4 Acme"_s});
    EXPECT_TRUE(take(first).isEmpty());
    EXPECT_EQ(*m_sourceLog, (QStringList{u"start"_s, u"stop"_s, u"start"_s}));
}

TEST_F(MTPDeviceManagerTest, StopBeforeStartOnlyRenewsTheStreamAndASecondStartDoesNothing)
{
    makeManager();
    const auto first = m_manager->deviceEvents();
    m_manager->stopMonitoring();
    EXPECT_TRUE(first->atEnd());
    EXPECT_NE(m_manager->deviceEvents(), first);
    EXPECT_EQ(m_lister->calls(), 0);

    start();
    start();
    EXPECT_EQ(m_lister->calls(), 1);
    EXPECT_EQ(*m_sourceLog, (QStringList{u"stop"_s, u"start"_s}));
    EXPECT_EQ(m_log.lines(), (QStringList{u"MTPDeviceManager: stopping USB monitoring"_s,
                                          u"MTPDeviceManager: starting USB monitoring"_s}));
}

// Guards against a stray poll: a stop during the initial scan used to leave the poll running.
TEST_F(MTPDeviceManagerTest, StopDuringTheInitialScanLeavesNoPollBehind)
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
}

// Guards against a failed listing being read as "every phone left".
TEST_F(MTPDeviceManagerTest, FailedListingDoesNotReportKnownPhonesAsGone)
{
    m_lister->setDevices({listed(u"unknown_1_4"_s, u"Acme"_s)});
    makeManager({0ms, 1h});
    const auto stream = m_manager->deviceEvents();
    start();
    collect(stream, 1);

    m_lister->setFailing(true);
    m_source->notify();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 2; }));
    m_source->notify();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 3; }));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_TRUE(take(stream).isEmpty());
    EXPECT_EQ(m_manager->knownDevices().size(), 1);
    EXPECT_EQ(m_log.count(u"Could not list the USB devices"_s), 1);

    // An empty listing that succeeds is a real departure.
    m_lister->setFailing(false);
    m_lister->setDevices({});
    m_source->notify();
    EXPECT_EQ(collect(stream, 1), QStringList{u"disconnected unknown_1_4"_s});
}

// Guards against callbacks outliving the manager.
TEST_F(MTPDeviceManagerTest, DestroyingTheManagerStopsMonitoringFirst)
{
    makeManager({0ms, 1h});
    const auto stream = m_manager->deviceEvents();
    start();

    // A rescan is in the middle of its listing when the manager goes away.
    m_lister->closeGate();
    m_source->notify();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 2; }));
    m_lister->setDevices({listed(u"unknown_1_4"_s, u"Acme"_s)});
    m_manager.reset();
    EXPECT_EQ(*m_sourceLog, (QStringList{u"start"_s, u"stop"_s, u"destroyed"_s}));
    EXPECT_TRUE(stream->isFinished());

    m_lister->openGate();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_TRUE(take(stream).isEmpty()) << "an event reached a finished stream";
}

TEST(DeviceEventStreamTest, BuffersUntilTheConsumerAttachesAndDropsAfterFinish)
{
    auto stream = std::make_shared<DeviceEventStream>();
    EXPECT_TRUE(stream->yield(DeviceEvent::disconnected(u"a"_s)));
    EXPECT_TRUE(stream->yield(DeviceEvent::disconnected(u"b"_s)));

    QObject consumer;
    QStringList seen;
    stream->attach(&consumer, [&] {
        for (const DeviceEvent& event : stream->takeEvents()) {
            seen.append(event.deviceId);
        }
    });
    EXPECT_TRUE(seen.isEmpty()) << "delivered synchronously instead of queued";
    ASSERT_TRUE(waitUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (QStringList{u"a"_s, u"b"_s}));

    stream->yield(DeviceEvent::disconnected(u"c"_s));
    stream->finish();
    EXPECT_FALSE(stream->yield(DeviceEvent::disconnected(u"d"_s)));
    ASSERT_TRUE(waitUntil([&] { return stream->atEnd(); }));
    EXPECT_EQ(seen.last(), u"c"_s);
    stream->detach();
}

} // namespace
