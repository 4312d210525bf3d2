#pragma once

#include "browsing/file_sort_order.h"
#include "core/device/device_model.h"
#include "core/device/file_repository.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

namespace qb {

// What the phone pane shows of one phone storage: the trail of folders, the current folder's
// items in the chosen order, the state of the last listing, the search text and the selection.
// GUI thread only. Every setter signals only a real change. A listing is sorted off the GUI
// thread; a generation number drops the result of any listing that a newer one has replaced.
// A folder already on screen stays there while it is listed again, and a reload asked while its
// folder's listing runs waits for that listing to be shown and then runs once, however often it
// was asked meanwhile.
class FileBrowserViewModel : public QObject
{
    Q_OBJECT

public:
    struct Breadcrumb
    {
        QString name;
        QString path;
        bool operator==(const Breadcrumb&) const = default;
    };

    explicit FileBrowserViewModel(QObject* parent = nullptr);
    ~FileBrowserViewModel() override;

    const QList<FileItem>& items() const { return m_items; }
    bool isLoading() const { return m_isLoading; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }

    const QString& searchQuery() const { return m_searchQuery; }
    void setSearchQuery(const QString& query);

    FileSortOrder sortOrder() const { return m_sortOrder; }
    // The sort picker's choice: stores the order and sorts the loaded items again (also when
    // the order is unchanged); nothing is listed again.
    void applySortOrder(FileSortOrder order);

    const QSet<QString>& selectedItemIDs() const { return m_selectedItemIDs; }
    void setSelectedItemIDs(const QSet<QString>& ids);

    const QList<Breadcrumb>& breadcrumbs() const { return m_breadcrumbs; }
    // The folder on screen (the last crumb's path), or empty text when there is none.
    QString currentFolderPath() const;

    // The repository listings go to, and the id and attachment of the phone it belongs to: jobs
    // and drags name this phone, the one whose folder is on screen.
    const std::shared_ptr<FileRepository>& repository() const { return m_repository; }
    const QString& deviceId() const { return m_deviceId; }
    quint64 attachment() const { return m_attachment; }
    void setRepository(std::shared_ptr<FileRepository> repository, const QString& deviceId,
                       quint64 attachment = 0);

    // Members of items() whose id is selected, in the order of items().
    QList<FileItem> selectedItems() const;
    // The selected items that the search lets through, in the order of items(): what the pane's
    // actions work on. A file hidden by the search stays selected but is never acted on unseen.
    QList<FileItem> visibleSelectedItems() const;
    // items() whose name contains the query, case-insensitively; the query is not trimmed.
    QList<FileItem> filteredItems() const;
    static bool matchesQuery(const FileItem& item, const QString& query);

    // Shows the storage's top folder with an empty selection, and lists it.
    void setRoot(const QString& path, const QString& name);
    // Goes into a folder; a file does nothing.
    void open(const FileItem& item);
    void navigateUp();
    // Goes back to the crumb at `index`; the current folder's own crumb and indexes outside
    // the trail do nothing.
    void navigateToBreadcrumb(qsizetype index);
    // Lists the current folder again. isLoading() is true only while nothing of the folder is
    // on screen: a folder already shown keeps its items until the new listing replaces them.
    void reload();
    // Reload for the Refresh button: the repository starts anew with the phone first (no cached
    // listing, a new session), so changes made on the phone itself show.
    void refresh();

    // Bumped by every reload; a listing publishes only while its number is the current one.
    quint64 generation() const { return m_generation; }

signals:
    void itemsChanged();
    void isLoadingChanged();
    void errorMessageChanged();
    void searchQueryChanged();
    void sortOrderChanged();
    void selectedItemIDsChanged();
    void breadcrumbsChanged();
    void repositoryChanged();

private:
    void setItems(QList<FileItem> items);
    void setIsLoading(bool loading);
    void setErrorMessage(const std::optional<QString>& message);
    void setBreadcrumbs(QList<Breadcrumb> crumbs);
    void finishListing(quint64 generation, QList<FileItem> items);
    void failListing(quint64 generation, const QString& message);
    // Reload, after a new session when `renew`; its failure is the listing's. While the current
    // folder's listing runs, it only notes that the folder is to be listed (anew) once more.
    void startReload(bool renew);
    void list(quint64 generation);
    // The listing of `generation` was shown or failed: a reload asked meanwhile runs now.
    void listingEnded(quint64 generation);
    bool showsCurrentFolder() const;

    QList<FileItem> m_items;
    bool m_isLoading = false;
    std::optional<QString> m_errorMessage;
    QString m_searchQuery;
    FileSortOrder m_sortOrder = FileSortOrder::NameAscending;
    QSet<QString> m_selectedItemIDs;
    QList<Breadcrumb> m_breadcrumbs;
    std::shared_ptr<FileRepository> m_repository;
    QString m_deviceId;
    quint64 m_attachment = 0;
    quint64 m_generation = 0;
    // The folder of the repository whose items are on screen (empty: none).
    QString m_shownPath;
    // The listing under way with the repository (0: none), of which folder, and what was asked
    // for that folder meanwhile.
    quint64 m_runningGeneration = 0;
    QString m_runningPath;
    bool m_reloadWaiting = false;
    bool m_renewWaiting = false;
};

// The user-facing text of a failure caught as an exception pointer.
QString errorText(const std::exception_ptr& error);

} // namespace qb
