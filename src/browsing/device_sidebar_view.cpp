#include "browsing/device_sidebar_view.h"

#include "browsing/device_sidebar_controller.h"
#include "browsing/device_sidebar_delegate.h"
#include "browsing/device_sidebar_model.h"
#include "core/device/device_list_view_model.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QShowEvent>
#include <QTreeView>
#include <QVBoxLayout>

namespace qb {

namespace {

// Return and Space click the current row, as a mouse click would. The PIN of an unpaired
// Wi-Fi phone is drawn, not a text field, so copying it is the row's copy command.
class SidebarTree : public QTreeView
{
public:
    using QTreeView::QTreeView;
    std::function<void(const QModelIndex&)> onActivate;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const QString pin = currentIndex().data(DeviceSidebarModel::PinRole).toString();
        if (event->matches(QKeySequence::Copy) && !pin.isEmpty()) {
            QGuiApplication::clipboard()->setText(pin);
            return;
        }
        const int key = event->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && onActivate) {
            onActivate(currentIndex());
            return;
        }
        QTreeView::keyPressEvent(event);
    }
};

} // namespace

DeviceSidebarView::DeviceSidebarView(const PaneContext& context, QWidget* parent)
    : QWidget(parent), m_context(context),
      m_controller(new DeviceSidebarController(context.devices, context.wifi.peers, this)),
      m_model(new DeviceSidebarModel(*m_controller, this))
{
    setMinimumWidth(200);
    auto* tree = new SidebarTree(this);
    tree->onActivate = [this](const QModelIndex& index) {
        activate(index);
    };
    m_tree = tree;
    m_tree->setModel(m_model);
    m_tree->setItemDelegate(new DeviceSidebarDelegate(m_tree));
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(false);
    m_tree->setItemsExpandable(false);
    m_tree->setIndentation(0);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setAccessibleName(tr("Devices"));
    m_tree->expandAll();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree);

    connect(m_tree, &QTreeView::clicked, this, &DeviceSidebarView::activate);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &DeviceSidebarView::showMenu);
    connect(m_tree->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &DeviceSidebarView::selectionFromView);
    // Rows come and go with phones; keep every section open and the highlight on the selection.
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_model, signal, this, [this] {
            m_tree->expandAll();
            selectionFromModel();
        });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_tree->expandAll();
        selectionFromModel();
    });
    if (m_context.devices)
        connect(m_context.devices, &DeviceListViewModel::selectedDeviceChanged, this,
                &DeviceSidebarView::selectionFromModel);
    selectionFromModel();
}

DeviceSidebarView::~DeviceSidebarView()
{
    m_controller->handleDisappear();
}

void DeviceSidebarView::activate(const QModelIndex& index)
{
    switch (DeviceSidebarModel::kindOf(index)) {
    case DeviceSidebarModel::Kind::Device:
        if (const auto device = m_model->deviceAt(index))
            m_controller->selectDevice(*device);
        break;
    case DeviceSidebarModel::Kind::Storage:
        if (const auto root = m_model->storageAt(index))
            m_controller->selectStorageRoot(
                index.parent().data(DeviceSidebarModel::IdRole).toString(), *root);
        break;
    case DeviceSidebarModel::Kind::Peer:
        if (const auto peer = m_model->peerAt(index))
            m_controller->selectPeer(*peer);
        break;
    case DeviceSidebarModel::Kind::SetupGuide:
        m_controller->openSetupGuide();
        break;
    case DeviceSidebarModel::Kind::Refresh:
        if (index.flags() & Qt::ItemIsEnabled)
            m_controller->runRefresh();
        break;
    default:
        break;
    }
    // A click on a row that is not a phone must not take the highlight from the selected phone.
    selectionFromModel();
}

void DeviceSidebarView::selectionFromView()
{
    if (m_syncing)
        return;
    const QModelIndexList rows = m_tree->selectionModel()->selectedIndexes();
    if (rows.isEmpty()) {
        selectionFromModel();
        return;
    }
    if (const auto device = m_model->deviceAt(rows.first()))
        m_controller->selectDevice(*device);
}

void DeviceSidebarView::selectionFromModel()
{
    const DeviceListViewModel* devices = m_context.devices;
    const QModelIndex wanted = devices && devices->selectedDevice()
                                   ? m_model->deviceIndex(devices->selectedDevice()->id)
                                   : QModelIndex();
    const QModelIndexList shown = m_tree->selectionModel()->selectedIndexes();
    if ((shown.isEmpty() && !wanted.isValid()) || (shown.size() == 1 && shown.first() == wanted))
        return;
    m_syncing = true;
    if (wanted.isValid())
        m_tree->selectionModel()->select(wanted, QItemSelectionModel::ClearAndSelect);
    else
        m_tree->selectionModel()->clearSelection();
    m_syncing = false;
}

void DeviceSidebarView::showMenu(const QPoint& position)
{
    const auto peer = m_model->peerAt(m_tree->indexAt(position));
    if (!peer)
        return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const WiFiPeer chosen = *peer;
    menu->addAction(tr("Reconnect (new PIN)"), this,
                    [this, chosen] { m_controller->reconnectPeer(chosen); });
    menu->addAction(tr("Forget Device"), this,
                    [this, chosen] { m_controller->forgetPeer(chosen); });
    menu->popup(m_tree->viewport()->mapToGlobal(position));
}

void DeviceSidebarView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_controller->handleAppear();
}

void DeviceSidebarView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // A minimised window hides its widgets spontaneously; monitoring goes on then.
    if (!event->spontaneous())
        m_controller->handleDisappear();
}

} // namespace qb
