#pragma once

#include "browsing/drop_decisions.h"
#include "browsing/pane_context.h"

#include <QStringList>
#include <QWidget>

class QHBoxLayout;
class QMimeData;
class QStackedWidget;
class QToolButton;
class QTreeView;

namespace qb {

class ComputerFolderModel;
class EmptyStateView;
struct ComputerEntry;
class FolderRelistTrigger;

// The computer's own folders beside the phone pane: a path bar with back and up, quick access to
// the usual folders, the folder's entries (listed off the GUI thread), the root folder that is
// also where downloads go, and drops from the phone pane and the file manager. What this
// application downloads or receives into the folder shown appears without navigating.
class ComputerBrowserPane : public QWidget
{
    Q_OBJECT

public:
    explicit ComputerBrowserPane(const PaneContext& context, QWidget* parent = nullptr);
    ~ComputerBrowserPane() override;

    // "downloadFolder", or the user's Downloads folder while it is empty.
    QString rootPath() const;
    QString currentDirectory() const;
    // From the first folder shown to the current one.
    const QStringList& navStack() const { return m_navStack; }
    ComputerFolderModel& model() const { return *m_model; }
    const FolderRelistTrigger& relistTrigger() const { return *m_relist; }
    QTreeView& view() const { return *m_view; }
    bool isTargeted() const { return m_targeted; }

    // Goes into an entry of the listing that is a folder; files are ignored. The listing's own
    // word decides: asking the file system here would hold the window on a mount that stopped
    // answering, and the folder's listing runs off the GUI thread anyway.
    void open(const ComputerEntry& entry);
    void goBack();
    void goToPathIndex(int index);
    void goToRoot();
    void openQuickAccess(const QString& path);
    void chooseRootFolder();
    void openInFileManager();
    void showInFileManager(const QString& path);
    void hidePane();
    void reload();
    // Puts the selected entries on the clipboard as files, as a file manager copies them: the
    // phone pane's Paste then uploads them, and a file manager pastes them.
    void copySelection();

    // What a drop on the pane does; true when the drop is taken. The plan is made off the GUI
    // thread with the folder and selection of this moment, and applied when ready.
    bool handleDrop(const QMimeData& data);

signals:
    void dropApplied(const qb::DropPlan& plan);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildQuickAccess();
    void rebuildPathBar();
    void updateContent();
    void setTargeted(bool targeted);
    void followPreferences();
    ComputerDropTarget dropTarget() const;
    void showRowMenu(const QPoint& position);
    void relist();

    PaneContext m_context;
    ComputerFolderModel* m_model;
    FolderRelistTrigger* m_relist = nullptr;
    QStringList m_navStack;
    QStringList m_selectedPaths;
    QString m_lastRoot;
    bool m_targeted = false;

    QToolButton* m_backButton = nullptr;
    QHBoxLayout* m_crumbs = nullptr;
    QWidget* m_quickAccess = nullptr;
    QWidget* m_quickAccessDivider = nullptr;
    QStackedWidget* m_content = nullptr;
    EmptyStateView* m_empty = nullptr;
    QTreeView* m_view = nullptr;
    QWidget* m_highlight = nullptr;
};

} // namespace qb
