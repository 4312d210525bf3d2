#include "core/device/device_list_view_model.h"

#include "core/device/mtp_device_manager.h"
#include "device_fakes.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

using RepositoryPtr = std::shared_ptr<FileRepository>;

Device phone(const QString& id, const QString& name)
{
    Device device;
    device.id = id;
    device.displayName = name;
    return device;
}

template <typename T> bool finish(const QFuture<T>& future)
{
    return waitUntil([&] { return future.isFinished(); });
}

class DeviceListViewModelTest : public ::testing::Test
{
protected:
    DeviceListViewModelTest()
    {
        auto manager = std::make_unique<MTPDeviceManager>(
            m_lister, std::make_unique<FakeHotplugSource>(std::make_shared<QStringList>()),
            MTPDeviceManager::Timing{0ms, 1h});
        m_model = std::make_unique<DeviceListViewModel>(
            std::move(manager), m_factory,
            [slot = m_installed](RepositoryProvider provider) { *slot = std::move(provider); });
    }
    ~DeviceListViewModelTest() override
    {
        m_model.reset();
        QThreadPool::globalInstance()->waitForDone();
    }

    LogCapture m_log;
    std::shared_ptr<FakeDeviceLister> m_lister = std::make_shared<FakeDeviceLister>();
    std::shared_ptr<FakeRepositoryFactory> m_factory = std::make_shared<FakeRepositoryFactory>();
    // Outlives the fixture, as the engine may hold the provider longer than the view model.
    std::shared_ptr<RepositoryProvider> m_installed = std::make_shared<RepositoryProvider>();
    RepositoryProvider& m_provider = *m_installed;
    std::unique_ptr<DeviceListViewModel> m_model;
};

TEST_F(DeviceListViewModelTest, DetachingTheSelectedPhoneSelectsTheFirstRemainingOne)
{
    const StorageRoot internal = storage(u"65537"_s, u"Internal"_s);
    m_factory->setRoots(u"a"_s, {internal});
    m_model->handle(DeviceEvent::connected(phone(u"a"_s, u"A"_s)));
    m_model->handle(DeviceEvent::connected(phone(u"b"_s, u"B"_s)));
    m_model->handle(DeviceEvent::connected(phone(u"a"_s, u"A again"_s))); // a duplicate
    EXPECT_EQ(m_model->devices().first().displayName, u"A"_s);
    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().first())));
    ASSERT_EQ(m_model->selectedStorageRoot(), internal);
    ASSERT_NE(m_model->cachedRepository(u"a"_s), nullptr);

    m_model->handle(DeviceEvent::disconnected(u"a"_s));
    ASSERT_EQ(m_model->devices().size(), 1);
    EXPECT_EQ(m_model->devices().first().id, u"b"_s);
    ASSERT_TRUE(m_model->selectedDevice().has_value());
    EXPECT_EQ(m_model->selectedDevice()->id, u"b"_s);
    EXPECT_EQ(m_model->selectedStorageRoot(), internal) << "the storage is left as it was";
    EXPECT_EQ(m_model->cachedRepository(u"a"_s), nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_factory->opened(), QStringList{u"a"_s}) << "the new selection opened";
    EXPECT_EQ(m_log.count(u"Device disconnected: a"_s), 1);

    m_model->handle(DeviceEvent::disconnected(u"b"_s));
    EXPECT_TRUE(m_model->devices().isEmpty());
    EXPECT_FALSE(m_model->selectedDevice().has_value());
}

// A scan both reports the phone on the stream and returns it: it must be listed once either way,
// before monitoring starts, by monitoring's own first scan and by a refresh while monitoring.
TEST_F(DeviceListViewModelTest, RefreshListsAnAttachedPhoneOnce)
{
    m_lister->setDevices({listed(u"u2"_s, u"Pixel"_s)});
    const auto settle = [] {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    };
    ASSERT_TRUE(finish(m_model->refreshDevices()));
    EXPECT_EQ(m_model->devices().size(), 1);
    m_model->startMonitoring();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() >= 2; }));
    settle();
    EXPECT_EQ(m_model->devices().size(), 1);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(finish(m_model->refreshDevices()));
        settle();
    }
    ASSERT_EQ(m_model->devices().size(), 1);
    EXPECT_EQ(m_model->devices().first().displayName, u"Pixel"_s);
    EXPECT_FALSE(m_model->isScanning());
    m_model->stopMonitoring();
}

TEST_F(DeviceListViewModelTest, SlowOpenOfOnePhoneDoesNotTouchTheNextSelection)
{
    const StorageRoot rootA = storage(u"1"_s, u"A internal"_s);
    const StorageRoot rootB = storage(u"2"_s, u"B internal"_s);
    m_factory->setRoots(u"a"_s, {rootA});
    m_factory->setRoots(u"b"_s, {rootB});
    m_factory->holdOpen(u"a"_s);
    m_model->handle(DeviceEvent::connected(phone(u"a"_s, u"A"_s)));
    m_model->handle(DeviceEvent::connected(phone(u"b"_s, u"B"_s)));

    const auto selectingA = m_model->selectDevice(m_model->devices().at(0));
    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().at(1))));
    EXPECT_EQ(m_model->selectedStorageRoot(), rootB);

    QSignalSpy selectionChanged(m_model.get(), &DeviceListViewModel::selectedDeviceChanged);
    m_factory->releaseOpen(u"a"_s);
    ASSERT_TRUE(finish(selectingA));
    EXPECT_EQ(m_model->devices().at(0).storageRoots, QList<StorageRoot>{rootA});
    EXPECT_EQ(m_model->selectedDevice()->id, u"b"_s);
    EXPECT_EQ(m_model->selectedDevice()->storageRoots, QList<StorageRoot>{rootB});
    EXPECT_EQ(m_model->selectedStorageRoot(), rootB);
    EXPECT_EQ(selectionChanged.count(), 0);
}

TEST_F(DeviceListViewModelTest, RootsArrivingAfterTheDetachAreAppliedNowhere)
{
    m_factory->setRoots(u"a"_s, {storage(u"1"_s, u"A"_s)});
    m_factory->holdRoots(u"a"_s);
    m_model->handle(DeviceEvent::connected(phone(u"a"_s, u"A"_s)));
    const auto selecting = m_model->selectDevice(m_model->devices().first());
    ASSERT_TRUE(waitUntil([&] { return m_model->cachedRepository(u"a"_s) != nullptr; }));

    m_model->handle(DeviceEvent::disconnected(u"a"_s));
    m_factory->releaseRoots(u"a"_s);
    ASSERT_TRUE(finish(selecting));
    EXPECT_TRUE(m_model->devices().isEmpty());
    EXPECT_FALSE(m_model->selectedDevice().has_value());
    EXPECT_FALSE(m_model->selectedStorageRoot().has_value());
    EXPECT_FALSE(m_model->errorMessage().has_value());
}

TEST_F(DeviceListViewModelTest, ErrorMessageStaysAfterALaterSuccess)
{
    m_factory->setOpenFailure(u"a"_s,
                              std::make_exception_ptr(FileRepositoryError::deviceNotConnected()));
    m_factory->setOpenFailure(u"b"_s,
                              std::make_exception_ptr(std::runtime_error("Device 'b' not found.")));
    m_model->handle(DeviceEvent::connected(phone(u"a"_s, u"A"_s)));
    m_model->handle(DeviceEvent::connected(phone(u"c"_s, u"C"_s)));

    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().at(0))));
    EXPECT_EQ(m_model->errorMessage(), FileRepositoryError::deviceNotConnected().message());
    EXPECT_EQ(m_model->selectedDevice()->id, u"a"_s) << "the selection stays";

    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().at(1))));
    EXPECT_EQ(m_model->errorMessage(), FileRepositoryError::deviceNotConnected().message());

    // Other errors show their own text; a failed open is not cached.
    ASSERT_TRUE(finish(m_model->selectDevice(phone(u"b"_s, u"B"_s))));
    EXPECT_EQ(m_model->errorMessage(), u"Device 'b' not found."_s);
    ASSERT_TRUE(finish(m_model->repository(u"a"_s)));
    EXPECT_EQ(m_factory->opened().count(u"a"_s), 2);
    EXPECT_EQ(m_model->cachedRepository(u"a"_s), nullptr);
}

// Guards against opening one phone twice, and keeping one that left while it opened.
TEST_F(DeviceListViewModelTest, OverlappingFirstRequestsShareOneOpenKeptOnlyForPresentPhones)
{
    m_factory->holdOpen(u"a"_s);
    QSignalSpy repositoriesChanged(m_model.get(), &DeviceListViewModel::repositoriesChanged);
    const auto first = m_model->repository(u"a"_s);
    const auto second = m_model->repository(u"a"_s);
    m_factory->releaseOpen(u"a"_s);
    ASSERT_TRUE(finish(first));
    ASSERT_TRUE(finish(second));

    EXPECT_EQ(m_factory->opened(), QStringList{u"a"_s});
    EXPECT_EQ(first.result(), second.result());
    EXPECT_EQ(m_model->cachedRepository(u"a"_s), first.result());
    EXPECT_EQ(repositoriesChanged.count(), 1);

    const auto third = m_model->repository(u"a"_s);
    ASSERT_TRUE(third.isFinished());
    EXPECT_EQ(third.result(), first.result());

    // One opened while its phone left reaches the caller but is not kept.
    m_factory->holdOpen(u"b"_s);
    m_model->handle(DeviceEvent::connected(phone(u"b"_s, u"B"_s)));
    const auto opening = m_model->repository(u"b"_s);
    m_model->handle(DeviceEvent::disconnected(u"b"_s));
    m_factory->releaseOpen(u"b"_s);
    ASSERT_TRUE(finish(opening));
    EXPECT_NE(opening.result(), nullptr);
    EXPECT_EQ(m_model->repositoryIds(), QStringList{u"a"_s});
}

TEST_F(DeviceListViewModelTest, ProviderIsInstalledAtConstructionAndFailsOnceGone)
{
    // Guards the start-up race: a job enqueued right after start-up must find the provider.
    ASSERT_TRUE(m_provider) << "the provider must be there before the event loop runs";

    // Asked for a phone that was never selected (the engine asks from its own thread).
    const QFuture<RepositoryPtr> answer = m_provider(u"a"_s, 0);
    ASSERT_TRUE(finish(answer));
    EXPECT_EQ(m_model->cachedRepository(u"a"_s), answer.result());

    // A later selection reuses it.
    m_model->handle(DeviceEvent::connected(phone(u"a"_s, u"A"_s)));
    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().first())));
    EXPECT_EQ(m_factory->opened(), QStringList{u"a"_s});

    // Once the view model is gone, pending and new requests fail as "not connected".
    m_factory->holdOpen(u"b"_s);
    auto pending = m_provider(u"b"_s, 0);
    m_model.reset();
    m_factory->releaseOpen(u"b"_s);
    for (QFuture<RepositoryPtr> future : {pending, m_provider(u"b"_s, 0)}) {
        ASSERT_TRUE(finish(future));
        try {
            future.waitForFinished();
            ADD_FAILURE() << "the provider answered";
        } catch (const FileRepositoryError& error) {
            EXPECT_EQ(error.kind(), FileRepositoryError::Kind::DeviceNotConnected);
        }
    }
}

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
