#include "browsing/computer_browser_pane.h"

#include "browsing/computer_folder_model.h"
#include "browsing/computer_pane_relist.h"
#include "browsing/phone_pane_drop_handler.h"
#include "core/device/device_list_view_model.h"
#include "core/transfer/transfer_preferences.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "platform/app_paths.h"
#include "platform/when_finished.h"
#include "ui_common/empty_state_view.h"
#include "ui_common/file_manager.h"
#include "ui_common/observable_flag.h"
#include "ui_common/plain_text_tooltip.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/symbol_label.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QScrollArea>
#include <QSet>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace qb {

namespace {

// Drawn over the list while a drag hovers; it never takes a click or a drop.
class DropHighlight : public QWidget
{
public:
    explicit DropHighlight(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor accent = palette().color(QPalette::Highlight);
        const QRectF box = QRectF(rect()).adjusted(4, 4, -4, -4);
        QColor fill = accent;
        fill.setAlphaF(0.05f);
        painter.setBrush(fill);
        painter.setPen(QPen(accent, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        painter.drawRoundedRect(box, 8, 8);
    }
};

QToolButton* iconButton(const QString& symbol, const QString& tip, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setIcon(symbolIcon(symbol));
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setAutoRaise(true);
    return button;
}

QString lastComponent(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

ComputerBrowserPane::ComputerBrowserPane(const PaneContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_model(new ComputerFolderModel(this))
{
    setMinimumWidth(220);
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeader());
    layout->addWidget(divider(this));
    m_quickAccess = buildQuickAccess();
    layout->addWidget(m_quickAccess);
    m_quickAccessDivider = divider(this);
    layout->addWidget(m_quickAccessDivider);

    m_content = new QStackedWidget(this);
    auto* progress = new QProgressBar(m_content);
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    progress->setAccessibleName(tr("Loading"));
    auto* progressPage = new QWidget(m_content);
    auto* progressLayout = new QVBoxLayout(progressPage);
    progressLayout->addStretch();
    progressLayout->addWidget(progress);
    progressLayout->addStretch();
    m_empty = new EmptyStateView(QStringLiteral("folder.badge.questionmark"), tr("Empty Folder"),
                                 tr("Files downloaded from your Android device will appear here."),
                                 {}, {}, m_content);
    m_view = new QTreeView(m_content);
    m_view->setModel(m_model);
    m_view->setHeaderHidden(true);
    m_view->setRootIsDecorated(false);
    m_view->setUniformRowHeights(true); // keeps a folder of 100,000 entries cheap to lay out
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setDragEnabled(true);
    m_view->setDragDropMode(QAbstractItemView::DragOnly);
    m_view->setTextElideMode(Qt::ElideMiddle);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setAccessibleName(tr("Computer files"));
    m_view->installEventFilter(this); // Ctrl+C
    m_view->header()->setStretchLastSection(false);
    m_view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_view->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    m_view->header()->resizeSection(1, 80);
    m_content->addWidget(progressPage);
    m_content->addWidget(m_empty);
    m_content->addWidget(m_view);
    layout->addWidget(m_content, 1);
    m_highlight = new DropHighlight(this);

    connect(m_view, &QTreeView::activated, this, [this](const QModelIndex& index) {
        if (index.isValid() && index.row() < m_model->entries().size())
            open(m_model->entries().at(index.row()));
    });
    connect(m_view, &QWidget::customContextMenuRequested, this, &ComputerBrowserPane::showRowMenu);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        m_selectedPaths.clear();
        for (const QModelIndex& index : m_view->selectionModel()->selectedRows())
            m_selectedPaths.append(index.data(ComputerFolderModel::PathRole).toString());
    });
    connect(m_model, &ComputerFolderModel::loadingChanged, this,
            &ComputerBrowserPane::updateContent);
    connect(m_model, &ComputerFolderModel::listed, this, [this] {
        // The selection outlives listings: mark again the entries that are still there.
        const QStringList wanted = m_selectedPaths;
        const QSet<QString> wantedSet(wanted.begin(), wanted.end());
        QItemSelection selection;
        for (int row = 0; !wantedSet.isEmpty() && row < m_model->rowCount(); ++row) {
            if (wantedSet.contains(m_model->entries().at(row).path))
                selection.select(m_model->index(row, 0), m_model->index(row, 1));
        }
        m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        m_selectedPaths = wanted;
        updateContent();
    });
    m_relist = new FolderRelistTrigger(
        m_context.transfers, m_context.wifi.received, [this] { return currentDirectory(); }, this);
    connect(m_relist, &FolderRelistTrigger::relistDue, this, &ComputerBrowserPane::relist);
    if (m_context.preferences) {
        // The settings window writes both as well.
        connect(m_context.preferences, &PreferenceStore::changed, this, [this](const QString& key) {
            if (key == u"downloadFolder" || key == u"showQuickAccess")
                followPreferences();
        });
    }
    followPreferences();
    m_navStack = {rootPath()};
    rebuildPathBar();
    m_backButton->hide();
}

ComputerBrowserPane::~ComputerBrowserPane() = default;

QWidget* ComputerBrowserPane::buildHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 5, 8, 5);
    row->setSpacing(0);
    auto* hide = iconButton(QStringLiteral("chevron.right"), tr("Hide Computer Browser"), header);
    connect(hide, &QToolButton::clicked, this, &ComputerBrowserPane::hidePane);
    m_backButton = iconButton(QStringLiteral("chevron.left"), tr("Go Back"), header);
    connect(m_backButton, &QToolButton::clicked, this, &ComputerBrowserPane::goBack);
    auto* scroll = new QScrollArea(header);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    auto* crumbs = new QWidget(scroll);
    m_crumbs = new QHBoxLayout(crumbs);
    m_crumbs->setContentsMargins(8, 0, 8, 0);
    m_crumbs->setSpacing(2);
    scroll->setWidget(crumbs);
    scroll->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    scroll->setFixedHeight(m_backButton->sizeHint().height() + 4);
    auto* root = iconButton(QStringLiteral("folder"), tr("Set root folder"), header);
    connect(root, &QToolButton::clicked, this, &ComputerBrowserPane::chooseRootFolder);
    auto* manager =
        iconButton(QStringLiteral("arrow.up.right.square"), tr("Show in File Manager"), header);
    connect(manager, &QToolButton::clicked, this, &ComputerBrowserPane::openInFileManager);
    row->addWidget(hide);
    row->addWidget(m_backButton);
    row->addWidget(scroll, 1);
    row->addSpacing(4);
    row->addWidget(root);
    row->addWidget(manager);
    return header;
}

QWidget* ComputerBrowserPane::buildQuickAccess()
{
    auto* bar = new QWidget(this);
    bar->setAccessibleName(tr("Quick Access"));
    bar->setFixedHeight(36);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 5, 10, 5);
    row->setSpacing(8);
    const struct
    {
        QString title;
        QString symbol;
        QStandardPaths::StandardLocation location;
    } folders[] = {
        {tr("Downloads"), QStringLiteral("arrow.down.circle"), QStandardPaths::DownloadLocation},
        {tr("Desktop"), QStringLiteral("menubar.dock.rectangle"), QStandardPaths::DesktopLocation},
        {tr("Documents"), QStringLiteral("doc"), QStandardPaths::DocumentsLocation},
    };
    for (const auto& folder : folders) {
        const QString path = QStandardPaths::writableLocation(folder.location);
        if (path.isEmpty() || !QFileInfo(path).isDir())
            continue;
        auto* button = new QToolButton(bar);
        button->setText(folder.title);
        button->setIcon(symbolIcon(folder.symbol));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, [this, path] { openQuickAccess(path); });
        row->addWidget(button);
    }
    row->addStretch();
    return bar;
}

QString ComputerBrowserPane::rootPath() const
{
    const QString stored = m_context.preferences
                               ? TransferPreferences(*m_context.preferences).downloadFolder()
                               : QString();
    return stored.isEmpty() ? AppPaths::downloadsFolder() : stored;
}

QString ComputerBrowserPane::currentDirectory() const
{
    return m_navStack.isEmpty() ? rootPath() : m_navStack.last();
}

void ComputerBrowserPane::open(const ComputerEntry& entry)
{
    if (entry.path.isEmpty() || !entry.isDirectory)
        return;
    m_navStack.append(entry.path);
    reload();
}

void ComputerBrowserPane::goBack()
{
    if (m_navStack.size() < 2)
        return;
    m_navStack.removeLast();
    reload();
}

void ComputerBrowserPane::goToPathIndex(int index)
{
    if (index < 0 || index >= m_navStack.size())
        return;
    m_navStack = m_navStack.first(index + 1);
    reload();
}

void ComputerBrowserPane::goToRoot()
{
    m_lastRoot = rootPath();
    m_navStack = {m_lastRoot};
    reload();
}

void ComputerBrowserPane::openQuickAccess(const QString& path)
{
    m_navStack = {path};
    reload();
}

void ComputerBrowserPane::chooseRootFolder()
{
    auto* dialog = new QFileDialog(window(), tr("Set root folder"), currentDirectory());
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, tr("Choose"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (folder.isEmpty() || !m_context.preferences)
            return;
        TransferPreferences(*m_context.preferences).setDownloadFolder(folder);
    });
    dialog->open();
}

void ComputerBrowserPane::openInFileManager()
{
    FileManager::shared().open(currentDirectory());
}

void ComputerBrowserPane::showInFileManager(const QString& path)
{
    FileManager::shared().showItem(path);
}

void ComputerBrowserPane::hidePane()
{
    if (m_context.showComputerPane)
        m_context.showComputerPane->setValue(false);
}

void ComputerBrowserPane::reload()
{
    m_backButton->setVisible(m_navStack.size() >= 2);
    rebuildPathBar();
    m_model->setDirectory(currentDirectory());
    updateContent();
}

void ComputerBrowserPane::copySelection()
{
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    std::unique_ptr<QMimeData> data(m_model->mimeData(rows));
    const QList<QUrl> urls = data->urls();
    QStringList paths;
    QByteArray copied("copy");
    for (const QUrl& url : urls) {
        paths.append(url.toLocalFile());
        copied += '\n' + url.toEncoded();
    }
    // GNOME's file managers read their own type; the others read the URI list.
    data->setData(QStringLiteral("x-special/gnome-copied-files"), copied);
    data->setText(paths.join(QLatin1Char('\n')));
    QGuiApplication::clipboard()->setMimeData(data.release());
}

bool ComputerBrowserPane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copySelection();
        return true; // the view would copy the current name as text
    }
    return QWidget::eventFilter(watched, event);
}

void ComputerBrowserPane::relist()
{
    // A hidden pane lists its root again when it is shown.
    if (isVisible())
        m_model->refresh();
}

void ComputerBrowserPane::rebuildPathBar()
{
    while (QLayoutItem* item = m_crumbs->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (int i = 0; i < m_navStack.size(); ++i) {
        if (i > 0) {
            m_crumbs->addWidget(new SymbolLabel(QStringLiteral("chevron.right"), 10,
                                                QPalette::PlaceholderText,
                                                m_crumbs->parentWidget()));
        }
        auto* crumb = new QToolButton(m_crumbs->parentWidget());
        const QString title = lastComponent(m_navStack.at(i));
        // A tool button reads "&" as a shortcut marker; the name is shown as it is.
        crumb->setText(QString(title).replace(QLatin1Char('&'), QStringLiteral("&&")));
        setPlainTextToolTip(crumb, m_navStack.at(i));
        crumb->setAccessibleName(title);
        crumb->setAutoRaise(true);
        QFont font = crumb->font();
        font.setBold(i == m_navStack.size() - 1);
        crumb->setFont(font);
        connect(crumb, &QToolButton::clicked, this, [this, i] { goToPathIndex(i); });
        m_crumbs->addWidget(crumb);
    }
    m_crumbs->addStretch();
}

void ComputerBrowserPane::updateContent()
{
    if (m_model->isLoading())
        m_content->setCurrentIndex(0);
    else
        m_content->setCurrentWidget(m_model->rowCount() == 0 ? static_cast<QWidget*>(m_empty)
                                                             : m_view);
    m_highlight->setVisible(m_targeted && !m_model->isLoading());
    m_highlight->setGeometry(m_content->geometry());
    m_highlight->raise();
}

void ComputerBrowserPane::setTargeted(bool targeted)
{
    if (m_targeted == targeted)
        return;
    m_targeted = targeted;
    updateContent();
}

void ComputerBrowserPane::followPreferences()
{
    const bool quickAccess =
        !m_context.preferences || TransferPreferences(*m_context.preferences).showQuickAccess();
    m_quickAccess->setVisible(quickAccess);
    m_quickAccessDivider->setVisible(quickAccess);
    if (!m_lastRoot.isEmpty() && rootPath() != m_lastRoot)
        goToRoot();
}

void ComputerBrowserPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        m_lastRoot.clear(); // followPreferences() then leaves the root to the next line
        followPreferences();
        goToRoot();
    }
}

void ComputerBrowserPane::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_highlight->setGeometry(m_content->geometry());
}

ComputerDropTarget ComputerBrowserPane::dropTarget() const
{
    ComputerDropTarget target{currentDirectory(), std::nullopt, std::nullopt};
    if (const DeviceListViewModel* devices = m_context.devices) {
        if (devices->selectedDevice()) {
            target.deviceId = devices->selectedDevice()->id;
            target.attachment = devices->selectedDevice()->attachment;
        }
        if (devices->selectedStorageRoot())
            target.storagePath = devices->selectedStorageRoot()->repositoryPath;
    }
    return target;
}

bool ComputerBrowserPane::handleDrop(const QMimeData& data)
{
    DropContent content = DropContent::from(data);
    const ComputerDropTarget target = dropTarget();
    if (!computerPaneAccepts(target, content) || !m_context.transfers)
        return false;
    QFuture<DropPlan> planning = QtConcurrent::run(
        [target, content = std::move(content)] { return planComputerPaneDrop(target, content); });
    whenFinished(this, planning, [this](const QFuture<DropPlan>& done) {
        if (done.resultCount() == 0)
            return;
        const DropPlan plan = done.result();
        applyDropPlan(plan, *m_context.transfers, this);
        emit dropApplied(plan);
    });
    return true;
}

void ComputerBrowserPane::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_context.transfers &&
        computerPaneAccepts(dropTarget(), DropContent::from(*event->mimeData()))) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        setTargeted(true);
    }
}

void ComputerBrowserPane::dragMoveEvent(QDragMoveEvent* event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ComputerBrowserPane::dragLeaveEvent(QDragLeaveEvent* event)
{
    QWidget::dragLeaveEvent(event);
    setTargeted(false);
}

void ComputerBrowserPane::dropEvent(QDropEvent* event)
{
    setTargeted(false);
    if (handleDrop(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ComputerBrowserPane::showRowMenu(const QPoint& position)
{
    const QModelIndex index = m_view->indexAt(position);
    if (!index.isValid())
        return;
    if (index.row() >= m_model->entries().size())
        return;
    const ComputerEntry entry = m_model->entries().at(index.row());
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("Show in File Manager"), this,
                    [this, path = entry.path] { showInFileManager(path); });
    if (entry.isDirectory)
        menu->addAction(tr("Open"), this, [this, entry] { open(entry); });
    menu->addSeparator();
    // Copy takes the selection (a right click selects the entry); the entry alone without one.
    QAction* copy = menu->addAction(tr("Copy"), this, [this, row = QPersistentModelIndex(index)] {
        if (!m_view->selectionModel()->hasSelection() && row.isValid())
            m_view->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);
        copySelection();
    });
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut); // shown in the menu; the view takes the key
    menu->popup(m_view->viewport()->mapToGlobal(position));
}

} // namespace qb
