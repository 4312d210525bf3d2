#include "browsing/android_browser_pane.h"

#include "browsing/breadcrumb_bar.h"
#include "browsing/file_browser_list.h"
#include "browsing/file_grid_view.h"
#include "browsing/phone_pane_drop_handler.h"
#include "browsing/phone_pane_toolbar.h"
#include "browsing/phone_paste.h"
#include "browsing/rename_sheet.h"
#include "core/device/device_list_view_model.h"
#include "core/device/rename_file_use_case.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "documents/onboarding_placeholder.h"
#include "platform/when_finished.h"
#include "ui_common/command_bus.h"
#include "ui_common/empty_state_view.h"
#include "ui_common/symbol_icon.h"
#include "wifi/wifi_peer_registry.h"
// The Wi-Fi view's inline accessors need its page and prompt types complete.
#include "wifi_ui/connected_device_view.h"
#include "wifi_ui/wifi_pairing_prompt_view.h"
#include "wifi_ui/wifi_phone_view.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace qb {

namespace {

// Pages that are not on screen ask for no room: the pane is as narrow as the page it shows allows,
// whatever another page would need.
class CurrentPageStack : public QStackedWidget
{
public:
    explicit CurrentPageStack(QWidget* parent) : QStackedWidget(parent)
    {
        connect(this, &QStackedWidget::currentChanged, this, &QWidget::updateGeometry);
    }
    QSize sizeHint() const override
    {
        return currentWidget() ? currentWidget()->sizeHint() : QSize();
    }
    QSize minimumSizeHint() const override
    {
        return currentWidget()
                   ? currentWidget()->minimumSizeHint().expandedTo(currentWidget()->minimumSize())
                   : QSize();
    }
};

template <typename T> T resultOf(QFuture<T> future)
{
    future.waitForFinished(); // finished already; rethrows a stored failure
    if (future.resultCount() == 0)
        throw FileRepositoryError::deviceNotConnected();
    return future.result();
}

} // namespace

AndroidBrowserPane::AndroidBrowserPane(const PaneContext& context, QWidget* parent)
    : QWidget(parent), m_context(context)
{
    m_toolbar = new PhonePaneToolbar(m_browser, context.showComputerPane, this);
    m_toolbarItems = m_toolbar;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildHeader();
    layout->addWidget(m_header);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    m_stack = new CurrentPageStack(this);
    m_guide = new OnboardingPlaceholder(m_stack);
    m_wifiPhone = new WiFiPhoneView(context.wifi, m_stack);
    m_noStorage = new EmptyStateView(
        QStringLiteral("internaldrive"), tr("No Storage Found"),
        tr("Please disconnect and reconnect your device with the connection mode set to MTP "
           "(File Transfer)."),
        tr("Help"), [] { CommandBus::shared().post(Notifications::showHelp); }, m_stack);
    m_list = new FileBrowserList(m_browser, m_stack);
    m_list->setReturnHandler([this] { return openSelectedOnReturn(); });
    m_list->setPasteAvailable([this] { return pasteAvailable(); });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            [this] { m_phoneItemsCopiedLast = false; });
    for (QWidget* page :
         {m_guide, m_wifiPhone, static_cast<QWidget*>(m_noStorage), static_cast<QWidget*>(m_list)})
        m_stack->addWidget(page);
    layout->addWidget(m_stack, 1);

    connect(m_list, &FileBrowserList::openRequested, this, [this](const FileItem& item) {
        if (item.isDirectory)
            m_browser.open(item);
    });
    connect(m_list, &FileBrowserList::downloadRequested, this,
            &AndroidBrowserPane::downloadSelected);
    connect(m_list, &FileBrowserList::deleteRequested, this, &AndroidBrowserPane::confirmDelete);
    connect(m_list, &FileBrowserList::renameRequested, this, &AndroidBrowserPane::startRename);
    connect(m_list, &FileBrowserList::copyRequested, this, &AndroidBrowserPane::copySelection);
    connect(m_list, &FileBrowserList::pasteRequested, this,
            &AndroidBrowserPane::pasteClipboardItems);
    connect(m_list, &FileBrowserList::newFolderRequested, this,
            &AndroidBrowserPane::showCreateFolder);

    connect(m_toolbar, &PhonePaneToolbar::refreshRequested, &m_browser,
            &FileBrowserViewModel::refresh);
    connect(m_toolbar, &PhonePaneToolbar::newFolderRequested, this,
            &AndroidBrowserPane::showCreateFolder);
    connect(m_toolbar, &PhonePaneToolbar::deleteRequested, this,
            &AndroidBrowserPane::requestDeleteSelected);
    connect(m_toolbar, &PhonePaneToolbar::downloadRequested, this,
            &AndroidBrowserPane::downloadSelected);
    connect(m_toolbar, &PhonePaneToolbar::viewModeChosen, this, [this](ViewMode mode) {
        m_list->setViewMode(mode);
        m_toolbar->setViewMode(mode);
    });

    if (DeviceListViewModel* devices = context.devices) {
        connect(devices, &DeviceListViewModel::selectedDeviceChanged, this, [this] {
            updateContent();
            scheduleStorageLoad();
        });
        connect(devices, &DeviceListViewModel::selectedStorageRootChanged, this, [this] {
            updateContent();
            scheduleStorageLoad();
        });
    }
    if (WiFiPeerRegistry* peers = context.wifi.peers) {
        connect(peers, &WiFiPeerRegistry::peersChanged, this, &AndroidBrowserPane::updateContent);
        connect(peers, &WiFiPeerRegistry::selectedPeerHostChanged, this,
                &AndroidBrowserPane::updateContent);
    }
    if (TransferQueueViewModel* transfers = context.transfers) {
        // Drops go into the folder on screen, of the phone it was listed from; with no folder
        // listed the target is empty and a drop is refused.
        for (QWidget* area : dropAreas()) {
            auto* handler = new PhonePaneDropHandler(area, *transfers, [this] {
                return PhoneDropTarget{m_browser.deviceId(), m_browser.currentFolderPath(),
                                       m_browser.attachment()};
            });
            if (m_dropHandler == nullptr)
                m_dropHandler = handler; // also takes the files a paste brings
        }
        // Every completion counts, also one cleared from the queue before its list arrived.
        connect(transfers, &TransferQueueViewModel::jobsCompleted, this,
                &AndroidBrowserPane::refreshAfterCompletedJobs);
    }
    CommandBus::shared().observe(
        Notifications::showSetupGuide, this, [this](const QVariant& object) {
            m_forceShowGuide = object.typeId() == QMetaType::Bool ? object.toBool() : true;
            updateContent();
        });
    // The selection present when the pane is built is not loaded; only changes are.
    m_loadKey = selectedKey();
    updateContent();
}

AndroidBrowserPane::~AndroidBrowserPane()
{
    // The views and the toolbar (which the main window may have taken into its toolbar) read
    // the folder model, so they go before it does.
    delete m_toolbarItems.data();
    delete m_stack;
}

QWidget* AndroidBrowserPane::toolbarItems() const
{
    return m_toolbar;
}

QList<QWidget*> AndroidBrowserPane::dropAreas() const
{
    // The whole file area takes drops, "Loading…" included.
    return {m_list->table()->viewport(), m_list->grid()->viewport(), m_list->noticeView(),
            m_list->loadingView()};
}

QWidget* AndroidBrowserPane::contentWidget() const
{
    return m_stack->currentWidget();
}

void AndroidBrowserPane::buildHeader()
{
    m_header = new QWidget(this);
    auto* row = new QHBoxLayout(m_header);
    row->setContentsMargins(0, 0, 8, 0);
    row->setSpacing(0);
    m_goBack = new QToolButton(m_header);
    m_goBack->setIcon(symbolIcon(QStringLiteral("chevron.left")));
    m_goBack->setText(tr("Go Back"));
    m_goBack->setAccessibleName(tr("Go Back"));
    m_goBack->setToolTip(tr("Go Back (Ctrl+[)"));
    m_goBack->setAutoRaise(true);
    m_goBack->setContentsMargins(10, 6, 10, 6);
    m_goBack->setFixedWidth(36);
    row->addWidget(m_goBack);
    m_breadcrumbs = new BreadcrumbBar(m_header);
    row->addWidget(m_breadcrumbs, 1);
    auto* search = new QLineEdit(m_header);
    search->setPlaceholderText(tr("Search files"));
    search->setAccessibleName(tr("Search files"));
    search->setClearButtonEnabled(true);
    search->setMaximumWidth(220);
    row->addWidget(search);

    connect(m_goBack, &QToolButton::clicked, &m_browser, &FileBrowserViewModel::navigateUp);
    // The key works wherever the focus is in the window (the sidebar included), but only while
    // the file area is on screen: updateContent() turns it on and off.
    m_goBackShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_BracketLeft), this);
    m_goBackShortcut->setContext(Qt::WindowShortcut);
    connect(m_goBackShortcut, &QShortcut::activated, &m_browser, &FileBrowserViewModel::navigateUp);
    connect(m_breadcrumbs, &BreadcrumbBar::tapped, &m_browser,
            &FileBrowserViewModel::navigateToBreadcrumb);
    connect(search, &QLineEdit::textEdited, &m_browser, &FileBrowserViewModel::setSearchQuery);
    connect(&m_browser, &FileBrowserViewModel::searchQueryChanged, search, [this, search] {
        if (search->text() != m_browser.searchQuery())
            search->setText(m_browser.searchQuery());
    });
    connect(&m_browser, &FileBrowserViewModel::breadcrumbsChanged, this,
            &AndroidBrowserPane::updateHeader);
    updateHeader();
}

void AndroidBrowserPane::updateHeader()
{
    m_goBack->setVisible(m_browser.breadcrumbs().size() >= 2);
    m_breadcrumbs->setBreadcrumbs(m_browser.breadcrumbs());
}

bool AndroidBrowserPane::hasSelectedWiFiPeer() const
{
    const WiFiPeerRegistry* peers = m_context.wifi.peers;
    if (!peers || !peers->selectedPeerHost())
        return false;
    for (const WiFiPeer& peer : peers->peers()) {
        if (peer.host == *peers->selectedPeerHost())
            return true;
    }
    return false;
}

void AndroidBrowserPane::updateContent()
{
    const DeviceListViewModel* devices = m_context.devices;
    const bool hasDevice = devices && devices->selectedDevice();
    const bool hasStorage = devices && devices->selectedStorageRoot();
    m_content = PhoneFileActions::chooseContent(m_forceShowGuide, hasDevice, hasSelectedWiFiPeer(),
                                                hasStorage);
    switch (m_content) {
    case PhoneFileActions::Content::SetupGuide:
        m_stack->setCurrentWidget(m_guide);
        break;
    case PhoneFileActions::Content::WiFiPhone:
        m_stack->setCurrentWidget(m_wifiPhone);
        break;
    case PhoneFileActions::Content::NoStorage:
        m_stack->setCurrentWidget(m_noStorage);
        break;
    case PhoneFileActions::Content::Files:
        m_stack->setCurrentWidget(m_list);
        break;
    }
    const bool files = m_content == PhoneFileActions::Content::Files;
    m_header->setVisible(files);
    m_goBackShortcut->setEnabled(files);
    m_toolbar->setFileActionsShown(files);
}

bool AndroidBrowserPane::filesOnScreen() const
{
    return m_content == PhoneFileActions::Content::Files && !m_browser.deviceId().isEmpty();
}

std::optional<AndroidBrowserPane::LoadKey> AndroidBrowserPane::selectedKey() const
{
    const DeviceListViewModel* devices = m_context.devices;
    if (!devices || !devices->selectedDevice() || !devices->selectedStorageRoot())
        return std::nullopt;
    const StorageRoot& root = *devices->selectedStorageRoot();
    return LoadKey{devices->selectedDevice()->id, root.id, root.repositoryPath, root.name,
                   devices->selectedDevice()->attachment};
}

void AndroidBrowserPane::scheduleStorageLoad()
{
    // Selecting a phone changes the device and then its storage; one load follows both.
    if (m_loadScheduled)
        return;
    m_loadScheduled = true;
    QMetaObject::invokeMethod(this, &AndroidBrowserPane::loadSelectedStorage, Qt::QueuedConnection);
}

void AndroidBrowserPane::loadSelectedStorage()
{
    m_loadScheduled = false;
    const std::optional<LoadKey> key = selectedKey();
    if (key == m_loadKey)
        return;
    m_loadKey = key;
    // Without a storage (a Wi-Fi phone or the guide is shown) the listing stays for the user's
    // return; coming back to the storage listed keeps its folder and selection.
    if (!key || isListed(*key))
        return;
    whenFinished(this, m_context.devices->repository(key->deviceId, key->attachment),
                 [this, key = *key](QFuture<std::shared_ptr<FileRepository>> opened) {
                     // A load applies only to the phone and storage it was started for.
                     if (selectedKey() != key)
                         return;
                     std::shared_ptr<FileRepository> repository;
                     try {
                         repository = resultOf(opened);
                     } catch (...) {
                         showError(errorText(std::current_exception()));
                         return;
                     }
                     m_browser.setRepository(repository, key.deviceId, key.attachment);
                     m_browser.setRoot(key.storagePath, key.storageName);
                     m_shownKey = key;
                 });
}

bool AndroidBrowserPane::isListed(const LoadKey& key) const
{
    // Only while the phone is still the one opened then: one detached and attached again meanwhile
    // has a new repository, and its storage is listed afresh.
    return key == m_shownKey && m_browser.repository() &&
           m_browser.repository() == m_context.devices->cachedRepository(key.deviceId);
}

void AndroidBrowserPane::refreshAfterCompletedJobs(const QList<TransferJob>& completed)
{
    if (PhoneFileActions::touchesDevice(completed, m_browser.deviceId()))
        m_browser.reload();
}

bool AndroidBrowserPane::openSelectedOnReturn()
{
    const QList<FileItem> selected = m_browser.visibleSelectedItems();
    if (selected.isEmpty() || !selected.first().isDirectory)
        return false;
    m_browser.open(selected.first());
    return true;
}

void AndroidBrowserPane::present(QDialog* dialog)
{
    if (m_dialog)
        m_dialog->close();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    m_dialog = dialog;
    dialog->open();
}

void AndroidBrowserPane::showError(const QString& message)
{
    auto* alert =
        new QMessageBox(QMessageBox::Warning, tr("Error"), tr("Error"), QMessageBox::Ok, this);
    alert->setWindowTitle(tr("Error"));
    alert->setTextFormat(Qt::PlainText);
    alert->setInformativeText(message);
    // Messages carry phone and file names: never markup.
    if (auto* label = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    present(alert);
}

} // namespace qb
