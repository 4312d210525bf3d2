#pragma once

#include "browsing/file_list_menu.h"
#include "browsing/file_sort_order.h"
#include "core/device/device_model.h"

#include <QStackedWidget>

#include <functional>

class QItemSelectionModel;
class QLabel;
class QTableView;

namespace qb {

class EmptyStateView;
class FileBrowserViewModel;
class FileGridView;
class FolderItemModel;

// The body of the phone pane: the folder as a table or a grid over one model and one
// selection, or in their place "Loading…", the listing's error or the empty-folder notice. The
// selection is kept in step with the view model both ways. It performs no file operation:
// every command becomes one of its signals, after it has written the selection the command
// acts on.
class FileBrowserList : public QStackedWidget
{
    Q_OBJECT

public:
    explicit FileBrowserList(FileBrowserViewModel& browser, QWidget* parent = nullptr);

    ViewMode viewMode() const { return m_viewMode; }
    void setViewMode(ViewMode mode);
    // Asked when a menu is built: whether "Paste" is offered.
    void setPasteAvailable(std::function<bool()> available)
    {
        m_pasteAvailable = std::move(available);
    }
    // Asked on Return in the table or the grid; true when it handled the key.
    void setReturnHandler(std::function<bool()> handler) { m_returnHandler = std::move(handler); }

    FolderItemModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }
    FileGridView* grid() const { return m_grid; }
    QItemSelectionModel* selectionModel() const { return m_selection; }
    EmptyStateView* noticeView() const { return m_notice; }
    QWidget* loadingView() const { return m_loading; }

    // Runs a menu entry for `ids` (the set it applies to) and `first` (the first of the shown
    // items with those ids); the entry's selection rule comes first.
    void perform(FileMenuEntry::Action action, const QSet<QString>& ids, const FileItem& first);

signals:
    void openRequested(const FileItem& item);
    void downloadRequested();
    void deleteRequested(const FileItem& item);
    void renameRequested(const FileItem& item);
    void copyRequested();
    void pasteRequested();
    void newFolderRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updatePage();
    void applySelection();
    void takeSelection();
    bool pasteAvailable() const;
    void showTableMenu(const QPoint& position);
    void showGridMenu(const QPoint& position);
    void popUp(QWidget* view, const QPoint& position, const QList<FileMenuEntry>& entries,
               const QSet<QString>& ids, const FileItem& first);
    void updateRowHeight();

    FileBrowserViewModel& m_browser;
    FolderItemModel* m_model;
    QItemSelectionModel* m_selection;
    QWidget* m_loading;
    EmptyStateView* m_notice;
    QTableView* m_table;
    FileGridView* m_grid;
    ViewMode m_viewMode = ViewMode::List;
    bool m_syncing = false;
    std::function<bool()> m_returnHandler;
    std::function<bool()> m_pasteAvailable;
};

} // namespace qb
