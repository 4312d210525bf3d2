#include "browsing/file_browser_list.h"

#include "browsing/file_browser_view_model.h"
#include "browsing/file_grid_view.h"
#include "browsing/folder_item_model.h"
#include "browsing/phone_item_transferable.h"
#include "ui_common/action_menu.h"
#include "ui_common/app_font_scale.h"
#include "ui_common/empty_state_view.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QResizeEvent>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace qb {

namespace {

// The table: rows selected whole, several at a time; the header does not sort; a drag takes
// the row under the pointer only.
class FileTableView : public QTableView
{
public:
    using QTableView::QTableView;

protected:
    void startDrag(Qt::DropActions supportedActions) override
    {
        startSingleItemDrag(this, supportedActions);
    }
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override
    {
        return isContextClick(event) ? QItemSelectionModel::NoUpdate
                                     : QTableView::selectionCommand(index, event);
    }
    // The name takes the room the fixed columns leave, but never less than 200: a narrower
    // table scrolls sideways instead of squeezing the name (or widening the window).
    void resizeEvent(QResizeEvent* event) override
    {
        QTableView::resizeEvent(event);
        const int fixed = 80 + 150 + 60;
        horizontalHeader()->resizeSection(FolderItemModel::NameColumn,
                                          std::max(200, viewport()->width() - fixed));
    }
};

} // namespace

FileBrowserList::FileBrowserList(FileBrowserViewModel& browser, QWidget* parent)
    : QStackedWidget(parent), m_browser(browser), m_model(new FolderItemModel(browser, this)),
      m_selection(new QItemSelectionModel(m_model, this))
{
    m_loading = new QWidget(this);
    auto* loadingLayout = new QVBoxLayout(m_loading);
    loadingLayout->addStretch();
    auto* spinner = new QProgressBar(m_loading);
    spinner->setRange(0, 0);
    spinner->setMaximumWidth(160);
    spinner->setAccessibleName(tr("Loading\u2026"));
    loadingLayout->addWidget(spinner, 0, Qt::AlignHCenter);
    auto* loadingLabel = new QLabel(tr("Loading\u2026"), m_loading);
    loadingLayout->addWidget(loadingLabel, 0, Qt::AlignHCenter);
    loadingLayout->addStretch();

    m_notice = new EmptyStateView(QStringLiteral("folder"), {}, {}, {}, {}, this);

    m_table = new FileTableView(this);
    m_table->setModel(m_model);
    m_table->setSelectionModel(m_selection);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setSortingEnabled(false);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->setIconSize(QSize(16, 16));
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->setDragEnabled(true);
    m_table->setDragDropMode(QAbstractItemView::DragOnly);
    m_table->setAccessibleName(tr("Files"));
    // Tab leaves the folder for the next control, as in the computer pane; arrows move within.
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionsClickable(false);
    header->setMinimumSectionSize(60);
    header->setSectionResizeMode(FolderItemModel::NameColumn, QHeaderView::Fixed);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(FolderItemModel::SizeColumn, QHeaderView::Fixed);
    header->setSectionResizeMode(FolderItemModel::ModifiedColumn, QHeaderView::Fixed);
    header->setSectionResizeMode(FolderItemModel::KindColumn, QHeaderView::Fixed);
    header->resizeSection(FolderItemModel::SizeColumn, 80);
    header->resizeSection(FolderItemModel::ModifiedColumn, 150);
    header->resizeSection(FolderItemModel::KindColumn, 60);
    m_table->installEventFilter(this);

    // A drag carries the dragged item with the phone and folder of the listing on screen.
    m_model->setMimeWriter({PhoneItemTransferable::mimeType}, [this](const QList<FileItem>& items) {
        QList<PhoneItemTransferable> payload;
        for (const FileItem& item : items)
            payload.append({item, m_browser.deviceId(), m_browser.currentFolderPath(),
                            m_browser.attachment()});
        return PhoneItemTransferable::toMimeData(payload);
    });

    m_grid = new FileGridView(this);
    m_grid->setModel(m_model);
    m_grid->setSelectionModel(m_selection);
    m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
    m_grid->setAccessibleName(tr("Files"));
    m_grid->setTabKeyNavigation(false);
    m_grid->installEventFilter(this);

    m_notice->installEventFilter(this); // Paste into an empty folder
    addWidget(m_loading);
    addWidget(m_notice);
    addWidget(m_table);
    addWidget(m_grid);

    connect(m_table, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit openRequested(m_model->itemAt(index.row()));
    });
    connect(m_grid, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit openRequested(m_model->itemAt(index.row()));
    });
    connect(m_table, &QWidget::customContextMenuRequested, this, &FileBrowserList::showTableMenu);
    connect(m_grid, &QWidget::customContextMenuRequested, this, &FileBrowserList::showGridMenu);

    connect(m_selection, &QItemSelectionModel::selectionChanged, this,
            &FileBrowserList::takeSelection);
    connect(m_model, &QAbstractItemModel::modelReset, this, &FileBrowserList::applySelection);
    connect(&browser, &FileBrowserViewModel::selectedItemIDsChanged, this,
            &FileBrowserList::applySelection);
    for (auto signal :
         {&FileBrowserViewModel::isLoadingChanged, &FileBrowserViewModel::errorMessageChanged,
          &FileBrowserViewModel::itemsChanged, &FileBrowserViewModel::searchQueryChanged})
        connect(&browser, signal, this, &FileBrowserList::updatePage);
    connect(&AppFontScale::shared(), &AppFontScale::changed, this,
            &FileBrowserList::updateRowHeight);
    updateRowHeight();
    applySelection();
    updatePage();
}

void FileBrowserList::setViewMode(ViewMode mode)
{
    if (mode == m_viewMode)
        return;
    m_viewMode = mode;
    updatePage();
}

void FileBrowserList::updateRowHeight()
{
    const QFontMetrics metrics(
        AppFontScale::shared().scaled(fixedSizeFont(13, QApplication::font())));
    m_table->verticalHeader()->setDefaultSectionSize(std::max(metrics.height() + 8, 24));
}

void FileBrowserList::updatePage()
{
    if (m_browser.isLoading()) {
        setCurrentWidget(m_loading);
    } else if (m_browser.errorMessage()) {
        m_notice->setContent(QStringLiteral("exclamationmark.triangle"), tr("Error"),
                             *m_browser.errorMessage());
        setCurrentWidget(m_notice);
    } else if (m_model->rowCount() == 0) {
        m_notice->setContent(QStringLiteral("folder"), tr("Empty Folder"),
                             tr("This folder contains no files."));
        setCurrentWidget(m_notice);
    } else {
        setCurrentWidget(m_viewMode == ViewMode::List ? static_cast<QWidget*>(m_table) : m_grid);
    }
}

void FileBrowserList::applySelection()
{
    if (m_syncing)
        return;
    m_syncing = true;
    const QSet<QString>& ids = m_browser.selectedItemIDs();
    QItemSelection selection;
    const int rows = m_model->rowCount();
    const int lastColumn = FolderItemModel::ColumnCount - 1;
    // Runs of neighbouring selected rows become one range each.
    for (int row = 0; row < rows; ++row) {
        if (!ids.contains(m_model->itemAt(row).id))
            continue;
        int end = row;
        while (end + 1 < rows && ids.contains(m_model->itemAt(end + 1).id))
            ++end;
        selection.select(m_model->index(row, 0), m_model->index(end, lastColumn));
        row = end;
    }
    m_selection->select(selection, QItemSelectionModel::ClearAndSelect);
    m_syncing = false;
}

void FileBrowserList::takeSelection()
{
    if (m_syncing)
        return;
    QSet<QString> ids;
    for (const QModelIndex& index : m_selection->selectedIndexes())
        ids.insert(m_model->itemAt(index.row()).id);
    m_syncing = true;
    m_browser.setSelectedItemIDs(ids);
    m_syncing = false;
}

void FileBrowserList::perform(FileMenuEntry::Action action, const QSet<QString>& ids,
                              const FileItem& first)
{
    using Action = FileMenuEntry::Action;
    if (action != Action::Rename && action != Action::NewFolder && action != Action::Paste)
        m_browser.setSelectedItemIDs(ids);
    switch (action) {
    case Action::Open:
        emit openRequested(first);
        break;
    case Action::Download:
        emit downloadRequested();
        break;
    case Action::Copy:
        emit copyRequested();
        break;
    case Action::Rename:
        emit renameRequested(first);
        break;
    case Action::Delete:
        emit deleteRequested(first);
        break;
    case Action::NewFolder:
        emit newFolderRequested();
        break;
    case Action::Paste:
        emit pasteRequested();
        break;
    case Action::Separator:
        break;
    }
}

bool FileBrowserList::pasteAvailable() const
{
    return m_pasteAvailable && m_pasteAvailable();
}

void FileBrowserList::showTableMenu(const QPoint& position)
{
    const QModelIndex index = m_table->indexAt(position);
    QSet<QString> ids;
    if (index.isValid()) {
        if (m_selection->isRowSelected(index.row())) {
            for (const QModelIndex& selected : m_selection->selectedRows())
                ids.insert(m_model->itemAt(selected.row()).id);
        } else {
            ids.insert(m_model->itemAt(index.row()).id);
        }
    }
    QList<FileItem> affected;
    for (const FileItem& item : m_model->rows()) {
        if (ids.contains(item.id))
            affected.append(item);
    }
    popUp(m_table, position, FileListMenu::forTable(ids, affected, pasteAvailable()), ids,
          affected.value(0));
}

void FileBrowserList::showGridMenu(const QPoint& position)
{
    const QModelIndex index = m_grid->indexAt(position);
    if (!index.isValid()) {
        popUp(m_grid, position, FileListMenu::forBackground(pasteAvailable()), {}, {});
        return;
    }
    const FileItem item = m_model->itemAt(index.row());
    popUp(m_grid, position, FileListMenu::forTile(item), {item.id}, item);
}

void FileBrowserList::popUp(QWidget* view, const QPoint& position,
                            const QList<FileMenuEntry>& entries, const QSet<QString>& ids,
                            const FileItem& first)
{
    if (entries.isEmpty())
        return;
    auto* menu = new ActionMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const FileMenuEntry& entry : entries) {
        if (entry.action == FileMenuEntry::Action::Separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addSymbolAction(entry.symbol, entry.label, entry.destructive);
        connect(action, &QAction::triggered, this,
                [this, kind = entry.action, ids, first] { perform(kind, ids, first); });
    }
    menu->popup(static_cast<QAbstractScrollArea*>(view)->viewport()->mapToGlobal(position));
}

bool FileBrowserList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_notice && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
        emit pasteRequested();
        return true;
    }
    if ((watched == m_table || watched == m_grid) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && m_returnHandler &&
            m_returnHandler())
            return true;
        // The menus' Copy and Paste (an item view would copy the current name as text).
        if (key->matches(QKeySequence::Copy)) {
            emit copyRequested();
            return true;
        }
        if (key->matches(QKeySequence::Paste)) {
            emit pasteRequested();
            return true;
        }
    }
    return QStackedWidget::eventFilter(watched, event);
}

} // namespace qb
