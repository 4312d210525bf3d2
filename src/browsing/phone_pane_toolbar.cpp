#include "browsing/phone_pane_toolbar.h"

#include "browsing/file_browser_view_model.h"
#include "ui_common/command_bus.h"
#include "ui_common/observable_flag.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QToolButton>

namespace qb {

namespace {

QToolButton* makeButton(QWidget* parent, const QString& symbol, const QString& text,
                        const QString& help)
{
    auto* button = new QToolButton(parent);
    button->setIcon(symbolIcon(symbol));
    button->setText(text);
    button->setToolTip(help);
    button->setAccessibleName(text);
    button->setAutoRaise(true);
    return button;
}

} // namespace

PhonePaneToolbar::PhonePaneToolbar(FileBrowserViewModel& browser, ObservableFlag* showComputerPane,
                                   QWidget* parent)
    : QWidget(parent), m_browser(browser), m_showComputerPane(showComputerPane)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    m_refresh =
        makeButton(this, QStringLiteral("arrow.clockwise"), tr("Refresh"), tr("Refresh (Ctrl+R)"));
    m_newFolder =
        makeButton(this, QStringLiteral("folder.badge.plus"), tr("New Folder"), tr("New Folder"));
    m_delete =
        makeButton(this, QStringLiteral("trash"), tr("Delete selected"), tr("Delete selected"));
    m_delete->setIcon(tintedSymbolIcon(QStringLiteral("trash"), destructiveColour()));
    setDestructiveColour(m_delete);
    m_download = makeButton(this, QStringLiteral("arrow.down.circle"), tr("Download selected"),
                            tr("Download selected"));

    m_sort = new QComboBox(this);
    m_sort->setFixedWidth(120);
    m_sort->setAccessibleName(tr("Sort"));
    m_sort->setToolTip(tr("Sort"));
    for (FileSortOrder order : allFileSortOrders())
        m_sort->addItem(toText(order), int(order));

    auto* views = new QWidget(this);
    views->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* viewsLayout = new QHBoxLayout(views);
    viewsLayout->setContentsMargins(0, 0, 0, 0);
    viewsLayout->setSpacing(0);
    m_list = makeButton(views, QStringLiteral("list.bullet"), tr("List"),
                        tr("Switch between list and grid view"));
    m_grid = makeButton(views, QStringLiteral("square.grid.2x2"), tr("Grid"),
                        tr("Switch between list and grid view"));
    auto* group = new QButtonGroup(views);
    for (QToolButton* button : {m_list, m_grid}) {
        button->setCheckable(true);
        button->setFixedWidth(30);
        group->addButton(button);
        viewsLayout->addWidget(button);
    }
    group->setExclusive(true);
    m_list->setChecked(true);

    m_computerPane = makeButton(this, QStringLiteral("sidebar.right"), {}, {});
    m_computerPane->setCheckable(true);
    m_help =
        makeButton(this, QStringLiteral("questionmark.circle"), tr("Help"), tr("Help (Ctrl+/)"));

    for (QWidget* item : std::initializer_list<QWidget*>{
             m_refresh, m_newFolder, m_delete, m_download, m_sort, views, m_computerPane, m_help})
        layout->addWidget(item);
    layout->addStretch(1);

    connect(m_refresh, &QToolButton::clicked, this, &PhonePaneToolbar::refreshRequested);
    connect(m_newFolder, &QToolButton::clicked, this, &PhonePaneToolbar::newFolderRequested);
    connect(m_delete, &QToolButton::clicked, this, &PhonePaneToolbar::deleteRequested);
    connect(m_download, &QToolButton::clicked, this, &PhonePaneToolbar::downloadRequested);
    connect(m_sort, &QComboBox::activated, this, [this](int index) {
        m_browser.applySortOrder(FileSortOrder(m_sort->itemData(index).toInt()));
    });
    connect(m_list, &QToolButton::clicked, this, [this] { emit viewModeChosen(ViewMode::List); });
    connect(m_grid, &QToolButton::clicked, this, [this] { emit viewModeChosen(ViewMode::Grid); });
    connect(m_computerPane, &QToolButton::clicked, this, [this] {
        if (m_showComputerPane)
            m_showComputerPane->setValue(!m_showComputerPane->value());
        updateComputerPaneButton();
    });
    connect(m_help, &QToolButton::clicked, this,
            [] { CommandBus::shared().post(Notifications::showHelp); });
    if (m_showComputerPane)
        connect(m_showComputerPane, &ObservableFlag::changed, this,
                &PhonePaneToolbar::updateComputerPaneButton);
    connect(&browser, &FileBrowserViewModel::selectedItemIDsChanged, this,
            &PhonePaneToolbar::update);
    connect(&browser, &FileBrowserViewModel::breadcrumbsChanged, this, &PhonePaneToolbar::update);
    connect(&browser, &FileBrowserViewModel::itemsChanged, this, &PhonePaneToolbar::update);
    connect(&browser, &FileBrowserViewModel::searchQueryChanged, this, &PhonePaneToolbar::update);
    connect(&browser, &FileBrowserViewModel::sortOrderChanged, this, &PhonePaneToolbar::update);
    update();
    updateComputerPaneButton();
}

void PhonePaneToolbar::setTransferQueueButton(QWidget* button)
{
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->insertWidget(row->indexOf(m_computerPane), button);
}

void PhonePaneToolbar::setViewMode(ViewMode mode)
{
    (mode == ViewMode::List ? m_list : m_grid)->setChecked(true);
}

void PhonePaneToolbar::setFileActionsShown(bool shown)
{
    if (shown == m_fileActionsShown)
        return;
    m_fileActionsShown = shown;
    update();
}

void PhonePaneToolbar::update()
{
    const bool hasSelection = m_fileActionsShown && !m_browser.selectedItemIDs().isEmpty();
    m_delete->setVisible(hasSelection);
    m_download->setVisible(hasSelection);
    // They act only on selected items that are listed: with the selection hidden by the search
    // there is nothing to act on.
    const bool hasShownSelection = hasSelection && !m_browser.visibleSelectedItems().isEmpty();
    m_delete->setEnabled(hasShownSelection);
    m_download->setEnabled(hasShownSelection);
    m_newFolder->setEnabled(m_fileActionsShown && !m_browser.breadcrumbs().isEmpty());
    m_sort->setCurrentIndex(m_sort->findData(int(m_browser.sortOrder())));
}

void PhonePaneToolbar::updateComputerPaneButton()
{
    const bool shown = m_showComputerPane && m_showComputerPane->value();
    const QString text = shown ? tr("Hide Computer Browser") : tr("Show Computer Browser");
    m_computerPane->setChecked(shown);
    m_computerPane->setIcon(symbolIcon(shown ? QStringLiteral("sidebar.right")
                                             : QStringLiteral("sidebar.right.slash")));
    m_computerPane->setToolTip(text);
    m_computerPane->setText(text);
    m_computerPane->setAccessibleName(text);
}

} // namespace qb
