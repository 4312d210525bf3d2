#include "browsing/device_sidebar_controller.h"
#include "browsing/device_sidebar_model.h"
#include "browsing/device_sidebar_view.h"
#include "core/device/device_fakes.h"
#include "core/device/mtp_device_manager.h"
#include "support/tooltip_text.h"
#include "ui_common/command_bus.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment<QApplication>);

Device phone(const QString& id, QList<StorageRoot> roots)
{
    return Device{id, "Phone " + id, Device::ConnectionType::UsbMTP, std::move(roots), true};
}

class DeviceSidebarTest : public ::testing::Test
{
protected:
    DeviceSidebarTest()
    {
        CommandBus::shared().observe(Notifications::showSetupGuide, &m_context,
                                     [this](const QVariant& v) { m_guide.append(v.toBool()); });
    }
    ~DeviceSidebarTest() override
    {
        m_devices.reset();
        QThreadPool::globalInstance()->waitForDone();
    }

    QTemporaryDir m_dir;
    std::shared_ptr<FakeDeviceLister> m_lister = std::make_shared<FakeDeviceLister>();
    std::shared_ptr<FakeRepositoryFactory> m_factory = std::make_shared<FakeRepositoryFactory>();
    std::unique_ptr<DeviceListViewModel> m_devices = std::make_unique<DeviceListViewModel>(
        std::make_unique<MTPDeviceManager>(
            m_lister, std::make_unique<FakeHotplugSource>(std::make_shared<QStringList>()),
            MTPDeviceManager::Timing{0ms, 1h}),
        m_factory, [](RepositoryProvider) {});
    std::unique_ptr<WiFiPeerRegistry> m_peers = std::make_unique<WiFiPeerRegistry>(m_dir.path());
    QObject m_context;
    QList<bool> m_guide;
};

TEST_F(DeviceSidebarTest, WiFiRowActionsAndSetupGuideWriteTheSelections)
{
    DeviceSidebarController sidebar(m_devices.get(), m_peers.get());
    m_peers->touch("192.168.1.20", QString("Pixel"));
    m_peers->touch("192.168.1.21", std::nullopt);
    const WiFiPeer first = m_peers->peers().at(0);
    ASSERT_TRUE(m_peers->verifyPIN(first.host, first.pin));
    m_devices->handle(DeviceEvent::connected(phone("A", {storage("1", "Internal")})));
    m_devices->setSelectedDevice(m_devices->devices().first());

    sidebar.selectPeer(m_peers->peers().at(1));
    EXPECT_EQ(m_peers->selectedPeerHost(), "192.168.1.21");
    EXPECT_FALSE(m_devices->selectedDevice());
    EXPECT_EQ(m_guide, QList<bool>{false});

    // Reconnect unpairs at once and selects that phone; nothing is posted.
    sidebar.reconnectPeer(m_peers->peers().at(0));
    EXPECT_FALSE(m_peers->peers().at(0).token);
    EXPECT_EQ(m_peers->selectedPeerHost(), first.host);
    EXPECT_EQ(m_guide.size(), 1);

    sidebar.forgetPeer(m_peers->peers().at(0));
    EXPECT_EQ(m_peers->peers().size(), 1);
    EXPECT_FALSE(m_peers->selectedPeerHost());

    m_devices->setSelectedDevice(m_devices->devices().first());
    m_peers->setSelectedPeerHost(QString("192.168.1.21"));
    sidebar.openSetupGuide();
    EXPECT_FALSE(m_devices->selectedDevice());
    EXPECT_FALSE(m_devices->selectedStorageRoot());
    EXPECT_FALSE(m_peers->selectedPeerHost());
    EXPECT_EQ(m_guide, (QList<bool>{false, true}));
}

TEST_F(DeviceSidebarTest, StorageOfAnotherPhoneSelectsThatPhoneFirstAndOpensIt)
{
    // Regression: a storage row of a phone that is not selected used to leave the other phone
    // selected, so the pane listed one phone's storage under another phone's id.
    const QList<StorageRoot> rootsB = {storage("20", "Internal"), storage("21", "SD card")};
    m_factory->setRoots("B", rootsB);
    DeviceSidebarController sidebar(m_devices.get(), m_peers.get());
    m_devices->handle(DeviceEvent::connected(phone("A", {storage("10", "Internal")})));
    m_devices->handle(DeviceEvent::connected(phone("B", rootsB)));

    sidebar.selectDevice(m_devices->devices().at(0));
    ASSERT_TRUE(waitUntil([&] { return m_factory->opened() == QStringList{"A"}; }));
    sidebar.selectDevice(m_devices->devices().at(0)); // the same phone again: not reopened

    sidebar.selectStorageRoot("B", rootsB.at(1));
    EXPECT_EQ(m_devices->selectedDevice()->id, "B");
    EXPECT_EQ(m_devices->selectedStorageRoot(), rootsB.at(1));
    EXPECT_EQ(m_factory->opened(), QStringList({"A", "B"}));
    // Once open, B's storages arrive (the selected phone signals again): the choice stays.
    QSignalSpy storagesArrived(m_devices.get(), &DeviceListViewModel::selectedDeviceChanged);
    ASSERT_TRUE(waitUntil([&] { return !storagesArrived.isEmpty(); }));
    EXPECT_EQ(m_devices->selectedStorageRoot(), rootsB.at(1));

    sidebar.selectStorageRoot("gone", storage("30", "Internal"));
    EXPECT_EQ(m_devices->selectedDevice()->id, "B");
}

TEST_F(DeviceSidebarTest, ModelShowsSectionsPlaceholdersStoragesPinsAndRefreshState)
{
    DeviceSidebarController sidebar(m_devices.get(), m_peers.get());
    DeviceSidebarModel model(sidebar);
    const auto texts = [&](int section) {
        QStringList out;
        const QModelIndex parent = model.index(section, 0);
        for (int row = 0; row < model.rowCount(parent); ++row)
            out.append(model.index(row, 0, parent).data().toString());
        return out;
    };
    EXPECT_EQ(texts(0), QStringList{"No devices connected"});
    EXPECT_EQ(texts(1), QStringList{"Waiting for Companion app…"});
    EXPECT_EQ(texts(2), QStringList({"Show Setup Guide", "Refresh Devices"}));
    EXPECT_FALSE(model.flags(model.index(0, 0, model.index(0, 0))) & Qt::ItemIsSelectable);

    StorageRoot noSize = storage("11", "SD card");
    noSize.availableBytes.reset();
    m_devices->handle(DeviceEvent::connected(phone("A", {storage("10", "Internal"), noSize})));
    m_devices->handle(DeviceEvent::connected(phone("B", {})));
    m_peers->touch("10.0.0.7", QString("Tab"));
    EXPECT_EQ(texts(0), QStringList({"Phone A", "Phone B"}));
    const QModelIndex a = model.deviceIndex("A");
    EXPECT_TRUE(model.flags(a) & Qt::ItemIsSelectable);
    ASSERT_EQ(model.rowCount(a), 2);
    EXPECT_EQ(model.rowCount(model.deviceIndex("B")), 0);
    EXPECT_EQ(model.index(0, 0, a).data(DeviceSidebarModel::SubtitleRole).toString(), "500 bytes");
    EXPECT_EQ(model.index(1, 0, a).data(DeviceSidebarModel::SubtitleRole).toString(), "");
    const QModelIndex peer = model.index(0, 0, model.index(1, 0));
    EXPECT_EQ(peer.data(DeviceSidebarModel::PinRole).toString(), m_peers->peers().at(0).pin);
    EXPECT_EQ(peer.data(DeviceSidebarModel::SymbolRole).toString(), "wifi");

    // A phone leaving removes its row alone; the other keeps its index and storages.
    QPersistentModelIndex kept(model.deviceIndex("B"));
    m_devices->handle(DeviceEvent::disconnected("A"));
    EXPECT_EQ(texts(0), QStringList{"Phone B"});
    EXPECT_EQ(kept.row(), 0);

    m_lister->closeGate();
    sidebar.runRefresh();
    const QModelIndex refresh = model.index(1, 0, model.index(2, 0));
    EXPECT_EQ(refresh.data().toString(), "Scanning…");
    EXPECT_FALSE(model.flags(refresh) & Qt::ItemIsEnabled);
    m_lister->openGate();
    ASSERT_TRUE(waitUntil([&] { return !sidebar.isRefreshing(); }));
    EXPECT_EQ(refresh.data().toString(), "Refresh Devices");
}

// Guards against names from phones and the network being rendered as markup in tooltips.
TEST_F(DeviceSidebarTest, TooltipsShowNamesCharacterForCharacter)
{
    DeviceSidebarController sidebar(m_devices.get(), m_peers.get());
    DeviceSidebarModel model(sidebar);
    const QString markup = "<b>Pixel</b><img src=\"x.png\"> & co";
    m_peers->touch("10.0.0.9", markup);
    Device device = phone("A", {storage("1", "<i>SD</i> card")});
    device.displayName = markup;
    m_devices->handle(DeviceEvent::connected(device));
    const QModelIndex a = model.deviceIndex("A");
    EXPECT_EQ(tooltipText(a.data(Qt::ToolTipRole).toString()), markup);
    EXPECT_EQ(tooltipText(model.index(0, 0, a).data(Qt::ToolTipRole).toString()), "<i>SD</i> card");
    const QModelIndex peer = model.index(0, 0, model.index(1, 0));
    EXPECT_EQ(tooltipText(peer.data(Qt::ToolTipRole).toString()), markup + "\n10.0.0.9");
}

TEST_F(DeviceSidebarTest, ViewMonitorsWhileShownAndKeepsTheHighlightOnTheSelectedPhone)
{
    PaneContext context;
    context.devices = m_devices.get();
    context.wifi.peers = m_peers.get();
    auto view = std::make_unique<DeviceSidebarView>(context);
    EXPECT_FALSE(m_devices->isMonitoring());
    view->show();
    EXPECT_TRUE(m_devices->isMonitoring());
    EXPECT_GE(view->minimumWidth(), 200);

    // A click on a storage row selects the storage; the phone row keeps the highlight.
    m_devices->handle(DeviceEvent::connected(phone("A", {storage("10", "Internal")})));
    const QModelIndex a = view->model().deviceIndex("A");
    view->tree()->clicked(view->model().index(0, 0, a));
    EXPECT_EQ(m_devices->selectedStorageRoot()->id, "10");
    EXPECT_EQ(view->tree()->selectionModel()->selectedIndexes(), QModelIndexList{a});

    // Ctrl+C on an unpaired Wi-Fi phone copies its PIN.
    m_peers->touch("192.168.1.30", std::nullopt);
    view->tree()->setCurrentIndex(view->model().index(0, 0, view->model().index(1, 0)));
    QTest::keyClick(view->tree(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), m_peers->peers().at(0).pin);

    // Minimising hides the view spontaneously, at once and maybe again when the platform answers.
    view->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(m_devices->isMonitoring());
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_devices->isMonitoring());
    view->setWindowState(Qt::WindowNoState);
    view->hide();
    EXPECT_FALSE(m_devices->isMonitoring());
    view->show();
    EXPECT_TRUE(m_devices->isMonitoring());
    view.reset();
    EXPECT_FALSE(m_devices->isMonitoring());
}

} // namespace
