#include "core/device/device_list_view_model.h"

#include "core/device/mtp_device_manager.h"
#include "device_fakes.h"

#include <QSignalSpy>
#include <QtConcurrent>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

using RepositoryPtr = std::shared_ptr<FileRepository>;

Device phone(const QString& id, const QString& name, QList<StorageRoot> roots = {})
{
    Device device;
    device.id = id;
    device.displayName = name;
    device.storageRoots = std::move(roots);
    return device;
}

QStringList ids(const QList<Device>& devices)
{
    QStringList out;
    for (const Device& device : devices) {
        out.append(device.id);
    }
    return out;
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
        auto source = std::make_unique<FakeHotplugSource>(m_sourceLog);
        m_source = source.get();
        auto manager = std::make_unique<MTPDeviceManager>(m_lister, std::move(source),
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
    std::shared_ptr<QStringList> m_sourceLog = std::make_shared<QStringList>();
    FakeHotplugSource* m_source = nullptr;
    // Outlives the fixture, as the engine may hold the provider longer than the view model.
    std::shared_ptr<RepositoryProvider> m_installed = std::make_shared<RepositoryProvider>();
    RepositoryProvider& m_provider = *m_installed;
    std::unique_ptr<DeviceListViewModel> m_model;
};

TEST_F(DeviceListViewModelTest, DuplicateConnectedEventIsIgnored)
{
    QSignalSpy changed(m_model.get(), &DeviceListViewModel::devicesChanged);
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("p1"), QStringLiteral("Acme"))));
    m_model->handle(
        DeviceEvent::connected(phone(QStringLiteral("p1"), QStringLiteral("Acme again"))));

    ASSERT_EQ(m_model->devices().size(), 1);
    EXPECT_EQ(m_model->devices().first().displayName, QStringLiteral("Acme"));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(m_log.lines(), QStringList{QStringLiteral("Device connected: Acme")});
}

TEST_F(DeviceListViewModelTest, DetachingTheSelectedPhoneSelectsTheFirstRemainingOne)
{
    const StorageRoot internal = storage(QStringLiteral("65537"), QStringLiteral("Internal"));
    m_factory->setRoots(QStringLiteral("a"), {internal});
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("a"), QStringLiteral("A"))));
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("b"), QStringLiteral("B"))));
    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().first())));
    ASSERT_EQ(m_model->selectedStorageRoot(), internal);
    ASSERT_NE(m_model->cachedRepository(QStringLiteral("a")), nullptr);

    m_model->handle(DeviceEvent::disconnected(QStringLiteral("a")));
    EXPECT_EQ(ids(m_model->devices()), QStringList{QStringLiteral("b")});
    ASSERT_TRUE(m_model->selectedDevice().has_value());
    EXPECT_EQ(m_model->selectedDevice()->id, QStringLiteral("b"));
    EXPECT_EQ(m_model->selectedStorageRoot(), internal) << "the storage is left as it was";
    EXPECT_EQ(m_model->cachedRepository(QStringLiteral("a")), nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_factory->opened(), QStringList{QStringLiteral("a")}) << "the new selection opened";
    EXPECT_EQ(m_log.count(QStringLiteral("Device disconnected: a")), 1);

    m_model->handle(DeviceEvent::disconnected(QStringLiteral("b")));
    EXPECT_TRUE(m_model->devices().isEmpty());
    EXPECT_FALSE(m_model->selectedDevice().has_value());

    // An unknown phone changes nothing but is still logged.
    m_model->handle(DeviceEvent::disconnected(QStringLiteral("zz")));
    EXPECT_EQ(m_log.count(QStringLiteral("Device disconnected: zz")), 1);
}

TEST_F(DeviceListViewModelTest, SlowOpenOfOnePhoneDoesNotTouchTheNextSelection)
{
    const StorageRoot rootA = storage(QStringLiteral("1"), QStringLiteral("A internal"));
    const StorageRoot rootB = storage(QStringLiteral("2"), QStringLiteral("B internal"));
    m_factory->setRoots(QStringLiteral("a"), {rootA});
    m_factory->setRoots(QStringLiteral("b"), {rootB});
    m_factory->holdOpen(QStringLiteral("a"));
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("a"), QStringLiteral("A"))));
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("b"), QStringLiteral("B"))));

    const auto selectingA = m_model->selectDevice(m_model->devices().at(0));
    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().at(1))));
    EXPECT_EQ(m_model->selectedStorageRoot(), rootB);

    QSignalSpy selectionChanged(m_model.get(), &DeviceListViewModel::selectedDeviceChanged);
    m_factory->releaseOpen(QStringLiteral("a"));
    ASSERT_TRUE(finish(selectingA));
    EXPECT_EQ(m_model->devices().at(0).storageRoots, QList<StorageRoot>{rootA});
    EXPECT_EQ(m_model->selectedDevice()->id, QStringLiteral("b"));
    EXPECT_EQ(m_model->selectedDevice()->storageRoots, QList<StorageRoot>{rootB});
    EXPECT_EQ(m_model->selectedStorageRoot(), rootB);
    EXPECT_EQ(selectionChanged.count(), 0);
}

TEST_F(DeviceListViewModelTest, RootsArrivingAfterTheDetachAreAppliedNowhere)
{
    m_factory->setRoots(QStringLiteral("a"), {storage(QStringLiteral("1"), QStringLiteral("A"))});
    m_factory->holdRoots(QStringLiteral("a"));
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("a"), QStringLiteral("A"))));
    const auto selecting = m_model->selectDevice(m_model->devices().first());
    ASSERT_TRUE(
        waitUntil([&] { return m_model->cachedRepository(QStringLiteral("a")) != nullptr; }));

    m_model->handle(DeviceEvent::disconnected(QStringLiteral("a")));
    m_factory->releaseRoots(QStringLiteral("a"));
    ASSERT_TRUE(finish(selecting));
    EXPECT_TRUE(m_model->devices().isEmpty());
    EXPECT_FALSE(m_model->selectedDevice().has_value());
    EXPECT_FALSE(m_model->selectedStorageRoot().has_value());
    EXPECT_FALSE(m_model->errorMessage().has_value());
}

TEST_F(DeviceListViewModelTest, LoadedStoragesAreSelectedAtOnceAndKeptOnReload)
{
    const StorageRoot internal = storage(QStringLiteral("65537"), QStringLiteral("Internal"));
    const StorageRoot card = storage(QStringLiteral("131073"), QStringLiteral("Card"));
    m_factory->setRoots(QStringLiteral("a"), {card, internal});
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("a"), QStringLiteral("A"))));

    const auto selecting =
        m_model->selectDevice(phone(QStringLiteral("a"), QStringLiteral("A"), {internal, card}));
    EXPECT_EQ(m_model->selectedStorageRoot(), internal);
    ASSERT_TRUE(finish(selecting));
    EXPECT_EQ(m_model->selectedStorageRoot(), internal);
    EXPECT_EQ(m_model->selectedDevice()->storageRoots, (QList<StorageRoot>{card, internal}));
}

TEST_F(DeviceListViewModelTest, ErrorMessageStaysAfterALaterSuccess)
{
    m_factory->setOpenFailure(QStringLiteral("a"),
                              std::make_exception_ptr(FileRepositoryError::deviceNotConnected()));
    m_factory->setOpenFailure(QStringLiteral("b"),
                              std::make_exception_ptr(std::runtime_error("Device 'b' not found.")));
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("a"), QStringLiteral("A"))));
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("c"), QStringLiteral("C"))));

    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().at(0))));
    EXPECT_EQ(m_model->errorMessage(), FileRepositoryError::deviceNotConnected().message());
    EXPECT_EQ(m_model->selectedDevice()->id, QStringLiteral("a")) << "the selection stays";

    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().at(1))));
    EXPECT_EQ(m_model->errorMessage(), FileRepositoryError::deviceNotConnected().message());

    // Other errors show their own text; a failed open is not cached.
    ASSERT_TRUE(finish(m_model->selectDevice(phone(QStringLiteral("b"), QStringLiteral("B")))));
    EXPECT_EQ(m_model->errorMessage(), QStringLiteral("Device 'b' not found."));
    ASSERT_TRUE(finish(m_model->repository(QStringLiteral("a"))));
    EXPECT_EQ(m_factory->opened().count(QStringLiteral("a")), 2);
    EXPECT_EQ(m_model->cachedRepository(QStringLiteral("a")), nullptr);
}

TEST_F(DeviceListViewModelTest, RefreshOnlyAddsPhones)
{
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("gone"), QStringLiteral("Old"))));
    m_lister->setDevices({listed(QStringLiteral("new"), QStringLiteral("New"))});
    QSignalSpy scanning(m_model.get(), &DeviceListViewModel::isScanningChanged);

    const auto refresh = m_model->refreshDevices();
    EXPECT_TRUE(m_model->isScanning());
    ASSERT_TRUE(finish(refresh));
    EXPECT_FALSE(m_model->isScanning());
    EXPECT_EQ(scanning.count(), 2);
    EXPECT_EQ(ids(m_model->devices()),
              (QStringList{QStringLiteral("gone"), QStringLiteral("new")}));

    m_lister->setDevices({});
    ASSERT_TRUE(finish(m_model->refreshDevices()));
    EXPECT_EQ(m_model->devices().size(), 2);
}

TEST_F(DeviceListViewModelTest, MonitoringListsPhonesAndStartingTwiceRunsOneMonitor)
{
    m_lister->setDevices({listed(QStringLiteral("unknown_1_5"), QStringLiteral("Acme Phone"))});
    QSignalSpy changed(m_model.get(), &DeviceListViewModel::devicesChanged);
    m_model->startMonitoring();
    m_model->startMonitoring();
    ASSERT_TRUE(waitUntil([&] { return m_model->devices().size() == 1; }));
    EXPECT_EQ(m_model->devices().first().displayName, QStringLiteral("Acme Phone"));
    EXPECT_EQ(*m_sourceLog, QStringList{QStringLiteral("start")});
    EXPECT_EQ(m_lister->calls(), 1);

    // A detach travels through the manager to the list.
    m_lister->setDevices({});
    m_source->notify();
    ASSERT_TRUE(waitUntil([&] { return m_model->devices().isEmpty(); }));
    EXPECT_EQ(changed.count(), 2);

    // Stopped and started again, the new period's events arrive.
    m_model->stopMonitoring();
    EXPECT_FALSE(m_model->isMonitoring());
    m_lister->setDevices({listed(QStringLiteral("unknown_1_6"), QStringLiteral("Acme Two"))});
    m_model->startMonitoring();
    ASSERT_TRUE(waitUntil([&] { return m_model->devices().size() == 1; }));
    EXPECT_EQ(m_model->devices().first().id, QStringLiteral("unknown_1_6"));
}

// Guards against opening one phone twice, and keeping one that left while it opened.
TEST_F(DeviceListViewModelTest, OverlappingFirstRequestsShareOneOpenKeptOnlyForPresentPhones)
{
    m_factory->holdOpen(QStringLiteral("a"));
    QSignalSpy repositoriesChanged(m_model.get(), &DeviceListViewModel::repositoriesChanged);
    const auto first = m_model->repository(QStringLiteral("a"));
    const auto second = m_model->repository(QStringLiteral("a"));
    m_factory->releaseOpen(QStringLiteral("a"));
    ASSERT_TRUE(finish(first));
    ASSERT_TRUE(finish(second));

    EXPECT_EQ(m_factory->opened(), QStringList{QStringLiteral("a")});
    EXPECT_EQ(first.result(), second.result());
    EXPECT_EQ(m_model->cachedRepository(QStringLiteral("a")), first.result());
    EXPECT_EQ(repositoriesChanged.count(), 1);

    const auto third = m_model->repository(QStringLiteral("a"));
    ASSERT_TRUE(third.isFinished());
    EXPECT_EQ(third.result(), first.result());

    // One opened while its phone left reaches the caller but is not kept.
    m_factory->holdOpen(QStringLiteral("b"));
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("b"), QStringLiteral("B"))));
    const auto opening = m_model->repository(QStringLiteral("b"));
    m_model->handle(DeviceEvent::disconnected(QStringLiteral("b")));
    m_factory->releaseOpen(QStringLiteral("b"));
    ASSERT_TRUE(finish(opening));
    EXPECT_NE(opening.result(), nullptr);
    EXPECT_EQ(m_model->repositoryIds(), QStringList{QStringLiteral("a")});
}

TEST_F(DeviceListViewModelTest, ProviderIsInstalledAtConstructionServesAnyThreadAndFailsOnceGone)
{
    // Guards the start-up race: a job enqueued right after start-up must find the provider.
    ASSERT_TRUE(m_provider) << "the provider must be there before the event loop runs";

    // The engine asks from its own thread, for a phone that was never selected.
    auto asked = QtConcurrent::run([provider = m_provider] {
        auto answer = provider(QStringLiteral("a"));
        return answer;
    });
    ASSERT_TRUE(finish(asked));
    const QFuture<RepositoryPtr> answer = asked.result();
    ASSERT_TRUE(finish(answer));
    ASSERT_NE(answer.result(), nullptr);
    EXPECT_EQ(m_model->cachedRepository(QStringLiteral("a")), answer.result());

    // A later selection reuses it.
    m_model->handle(DeviceEvent::connected(phone(QStringLiteral("a"), QStringLiteral("A"))));
    ASSERT_TRUE(finish(m_model->selectDevice(m_model->devices().first())));
    EXPECT_EQ(m_factory->opened(), QStringList{QStringLiteral("a")});

    // Once the view model is gone, pending and new requests fail as "not connected".
    m_factory->holdOpen(QStringLiteral("b"));
    auto pending = m_provider(QStringLiteral("b"));
    m_model.reset();
    m_factory->releaseOpen(QStringLiteral("b"));
    for (QFuture<RepositoryPtr> future : {pending, m_provider(QStringLiteral("b"))}) {
        ASSERT_TRUE(finish(future));
        try {
            future.waitForFinished();
            ADD_FAILURE() << "the provider answered";
        } catch (const FileRepositoryError& error) {
            EXPECT_EQ(error.kind(), FileRepositoryError::Kind::DeviceNotConnected);
        }
    }
}

} // namespace
