#pragma once

#include "browsing/file_browser_view_model.h"
#include "browsing/pane_context.h"
#include "browsing/phone_file_actions.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <optional>

class QShortcut;
class QStackedWidget;
class QToolButton;

namespace qb {

class BreadcrumbBar;
class EmptyStateView;
class FileBrowserList;
class PhonePaneDropHandler;
class PhonePaneToolbar;

// The phone's files, or the setup guide or a Wi-Fi phone's page, whichever the sidebar selects.
// The pane owns the folder model; it loads the selected storage, reloads after jobs that
// touched the phone shown, and turns the user's file actions into jobs of the transfer queue.
//
// Drops onto the file area become jobs through PhonePaneDropHandler, aimed at the folder on
// screen and its phone: browser().currentFolderPath() and browser().deviceId(), both empty
// while no folder is listed.
class AndroidBrowserPane : public QWidget
{
    Q_OBJECT

public:
    explicit AndroidBrowserPane(const PaneContext& context, QWidget* parent = nullptr);
    ~AndroidBrowserPane() override;

    // The pane's toolbar items; the main window places them in its toolbar, before the
    // transfer-queue button, and shows them while the pane is shown.
    QWidget* toolbarItems() const;

    FileBrowserViewModel& browser() { return m_browser; }
    FileBrowserList* fileList() const { return m_list; }
    // The widgets that take drops: the table's and the grid's viewports, the empty-folder notice
    // and the loading page.
    QList<QWidget*> dropAreas() const;
    PhonePaneToolbar* toolbar() const { return m_toolbar; }
    PhoneFileActions::Content content() const { return m_content; }
    QWidget* contentWidget() const;
    // Whether a phone's file area is on screen with a folder listed: the file actions act only
    // then, on the phone listed, never on one the user no longer sees.
    bool filesOnScreen() const;
    // The dialog or alert on screen, if any.
    QDialog* activeDialog() const { return m_dialog; }

    // The actions (menus, toolbar and keys call them). Those on the selection take only the
    // selected items that are listed (FileBrowserViewModel::visibleSelectedItems).
    void downloadSelected();
    void confirmDelete(const FileItem& item);
    void requestDeleteSelected();
    void deleteSelected(const QList<FileItem>& items);
    void showCreateFolder();
    void createFolder(const QString& name);
    void copySelection();
    // Pastes what was copied last: files of the computer on the clipboard (as a file manager or
    // the computer pane copies them) go to the drop handling, as if dropped on the folder shown;
    // otherwise the phone items copied here are pasted.
    void pasteClipboardItems();
    void startRename(const FileItem& item);
    void renameItem(const FileItem& item, const QString& deviceId, const QString& newName,
                    quint64 attachment = 0);
    bool openSelectedOnReturn();
    void showError(const QString& message);
    const QList<FileItem>& clipboardItems() const { return m_clipboardItems; }

private:
    void buildHeader();
    void updateHeader();
    void updateContent();
    void scheduleStorageLoad();
    void loadSelectedStorage();
    void refreshAfterCompletedJobs(const QList<TransferJob>& completed);
    void present(QDialog* dialog);
    bool pasteAvailable() const;
    bool hasSelectedWiFiPeer() const;

    struct LoadKey
    {
        QString deviceId;
        QString storageId;
        QString storagePath;
        QString storageName;
        quint64 attachment = 0;
        bool operator==(const LoadKey&) const = default;
    };
    std::optional<LoadKey> selectedKey() const;
    bool isListed(const LoadKey& key) const;

    PaneContext m_context;
    FileBrowserViewModel m_browser;
    PhonePaneToolbar* m_toolbar;
    // The main window may take the toolbar into its own toolbar, and delete it from there.
    QPointer<QWidget> m_toolbarItems;
    QToolButton* m_goBack = nullptr;
    QShortcut* m_goBackShortcut = nullptr;
    BreadcrumbBar* m_breadcrumbs = nullptr;
    QWidget* m_header = nullptr;
    QStackedWidget* m_stack;
    QWidget* m_guide;
    QWidget* m_wifiPhone;
    EmptyStateView* m_noStorage;
    FileBrowserList* m_list;
    PhoneFileActions::Content m_content = PhoneFileActions::Content::SetupGuide;

    bool m_forceShowGuide = false;
    bool m_loadScheduled = false;
    // The selection last asked for, and the storage whose listing the browser holds: coming
    // back to that storage (after a Wi-Fi phone or the guide) keeps the folder and selection.
    std::optional<LoadKey> m_loadKey;
    std::optional<LoadKey> m_shownKey;
    QString m_newFolderName;
    QList<FileItem> m_clipboardItems;
    QString m_clipboardDeviceId;
    quint64 m_clipboardAttachment = 0;
    // Phone items were copied after the clipboard last changed.
    bool m_phoneItemsCopiedLast = false;
    PhonePaneDropHandler* m_dropHandler = nullptr;
    QPointer<QDialog> m_dialog;
};

} // namespace qb
