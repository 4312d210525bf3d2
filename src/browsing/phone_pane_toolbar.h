#pragma once

#include "browsing/file_sort_order.h"

#include <QWidget>

class QComboBox;
class QToolButton;

namespace qb {

class FileBrowserViewModel;
class ObservableFlag;

// The phone pane's toolbar items, in order: Refresh, New Folder, Delete selected and Download
// selected (only while something is selected, and enabled only while a selected item is listed),
// the sort picker, the list/grid picker, the transfer-queue button (which the main window
// provides), the computer pane's toggle and Help. The main window puts them in its toolbar.
class PhonePaneToolbar : public QWidget
{
    Q_OBJECT

public:
    PhonePaneToolbar(FileBrowserViewModel& browser, ObservableFlag* showComputerPane,
                     QWidget* parent = nullptr);

    void setViewMode(ViewMode mode);
    // Whether the phone's file area is on screen. Without it New Folder is disabled and the
    // two selection buttons are hidden, whatever the folder model still holds.
    void setFileActionsShown(bool shown);
    // Places the transfer-queue button after the view picker.
    void setTransferQueueButton(QWidget* button);

    QToolButton* refreshButton() const { return m_refresh; }
    QToolButton* newFolderButton() const { return m_newFolder; }
    QToolButton* deleteButton() const { return m_delete; }
    QToolButton* downloadButton() const { return m_download; }
    QComboBox* sortPicker() const { return m_sort; }
    QToolButton* listButton() const { return m_list; }
    QToolButton* gridButton() const { return m_grid; }
    QToolButton* computerPaneButton() const { return m_computerPane; }
    QToolButton* helpButton() const { return m_help; }

signals:
    void refreshRequested();
    void newFolderRequested();
    void deleteRequested();
    void downloadRequested();
    void viewModeChosen(ViewMode mode);

private:
    void update();
    void updateComputerPaneButton();

    FileBrowserViewModel& m_browser;
    ObservableFlag* m_showComputerPane;
    bool m_fileActionsShown = true;
    QToolButton* m_refresh;
    QToolButton* m_newFolder;
    QToolButton* m_delete;
    QToolButton* m_download;
    QComboBox* m_sort;
    QToolButton* m_list;
    QToolButton* m_grid;
    QToolButton* m_computerPane;
    QToolButton* m_help;
};

} // namespace qb
