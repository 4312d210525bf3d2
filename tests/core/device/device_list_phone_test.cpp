#include "core/device/device_list_view_model.h"

#include "core/device/mtp_device_lister.h"
#include "core/device/mtp_device_manager.h"
#include "core/device/mtp_repository_factory.h"
#include "device_fakes.h"
#include "phone_test.h"
#include "platform/libusb_hotplug_source.h"

#include <atomic>

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// The real bridge listing, counted, so that a test knows when a look at the bus has happened.
class CountingLister : public DeviceLister
{
public:
    std::optional<QList<ListedDevice>> listDevices() override
    {
        auto listing = m_lister.listDevices();
        ++m_calls;
        return listing;
    }
    int calls() const { return m_calls; }

private:
    MTPDeviceLister m_lister;
    std::atomic<int> m_calls{0};
};

// The bus number and device address in the bridge's device id.
QString deviceIdOf(const EmulatedPhone& phone)
{
    return QStringLiteral("unknown_%1_%2").arg(phone.busNumber()).arg(phone.deviceAddress());
}

class DeviceListPhoneTest : public PhoneTest
{
protected:
    void TearDown() override
    {
        m_model.reset();
        QThreadPool::globalInstance()->waitForDone();
        PhoneTest::TearDown();
    }

    std::shared_ptr<CountingLister> m_lister = std::make_shared<CountingLister>();
    std::unique_ptr<DeviceListViewModel> m_model;
};

TEST_F(DeviceListPhoneTest, PlugSelectAndUnplugThePhone)
{
    // The application's pieces, except that the poll never fires: only hot-plug notifications
    // can make the manager look at the bus after its initial scan.
    auto manager = std::make_unique<MTPDeviceManager>(
        m_lister, std::make_unique<LibusbHotplugSource>(), MTPDeviceManager::Timing{400ms, 1h});
    MTPClient::Options options;
    options.sleep = [](std::chrono::milliseconds) {
    };
    m_model = std::make_unique<DeviceListViewModel>(
        std::move(manager), std::make_shared<MTPRepositoryFactory>(options), nullptr);
    m_model->startMonitoring();
    ASSERT_TRUE(waitUntil([&] { return m_lister->calls() == 1; }));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    ASSERT_TRUE(m_model->devices().isEmpty());

    // Plugged in after the initial scan: only the hot-plug notification can find it.
    EmulatedPhone& phone = plugPhone({}, /*sdCard=*/true);
    ASSERT_TRUE(waitUntil([&] { return m_model->devices().size() == 1; }));
    const Device listed = m_model->devices().first();
    EXPECT_EQ(listed.id, deviceIdOf(phone));
    // The bridge names the phone after libmtp's device table: vendor, space, product.
    EXPECT_EQ(listed.displayName, QStringLiteral("Google Inc Nexus/Pixel (MTP+ADB)"));
    EXPECT_TRUE(listed.storageRoots.isEmpty());

    const auto selecting = m_model->selectDevice(listed);
    ASSERT_TRUE(waitUntil([&] { return selecting.isFinished(); }));
    ASSERT_FALSE(m_model->errorMessage().has_value()) << m_model->errorMessage()->toStdString();
    const QList<StorageRoot> roots = m_model->selectedDevice()->storageRoots;
    ASSERT_EQ(roots.size(), 2);
    EXPECT_EQ(roots[0].id, QString::number(EmulatedPhone::storageId(0)));
    EXPECT_EQ(roots[0].repositoryPath, QStringLiteral("%1/0").arg(EmulatedPhone::storageId(0)));
    EXPECT_EQ(roots[1].id, QString::number(EmulatedPhone::storageId(1)));
    EXPECT_EQ(roots[1].name, QStringLiteral("SD card"));
    EXPECT_EQ(roots[1].capacityBytes, 32ll << 30);
    EXPECT_TRUE(roots[0].availableBytes.has_value());
    EXPECT_EQ(m_model->selectedStorageRoot(), roots[0]);
    EXPECT_EQ(m_model->devices().first().storageRoots, roots);
    EXPECT_EQ(m_model->repositoryIds(), QStringList{listed.id});

    phone.unplug();
    ASSERT_TRUE(waitUntil([&] { return m_model->devices().isEmpty(); }));
    EXPECT_TRUE(m_model->repositoryIds().isEmpty());
    EXPECT_FALSE(m_model->selectedDevice().has_value());

    // Plugged in again, the phone is a new device number and so a new id.
    phone.plug();
    ASSERT_TRUE(waitUntil([&] { return m_model->devices().size() == 1; }));
    EXPECT_EQ(m_model->devices().first().id, deviceIdOf(phone));
    EXPECT_NE(m_model->devices().first().id, listed.id);
}

} // namespace
