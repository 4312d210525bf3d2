#include "browsing/file_browser_view_model.h"

#include "core/device/file_repository_error.h"
#include "core/device/mtp_error.h"
#include "core/transfer/transfer_job.h"
#include "platform/futures.h"
#include "platform/when_finished.h"

#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace qb {

QString errorText(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const FileRepositoryError& failure) {
        return failure.message();
    } catch (const MTPError& failure) {
        return failure.message();
    } catch (const TransferError& failure) {
        return failure.message();
    } catch (const std::exception& failure) {
        return QString::fromUtf8(failure.what());
    } catch (...) {
        return FileRepositoryError::unknown(QStringLiteral("Unknown error")).message();
    }
}

FileBrowserViewModel::FileBrowserViewModel(QObject* parent) : QObject(parent) {}

FileBrowserViewModel::~FileBrowserViewModel() = default;

void FileBrowserViewModel::setSearchQuery(const QString& query)
{
    if (query == m_searchQuery)
        return;
    m_searchQuery = query;
    emit searchQueryChanged();
}

void FileBrowserViewModel::applySortOrder(FileSortOrder order)
{
    if (order != m_sortOrder) {
        m_sortOrder = order;
        emit sortOrderChanged();
    }
    QList<FileItem> sorted = m_items;
    sortItems(sorted, order);
    // Same ids in the same order is no change; otherwise the list is new.
    bool same = true;
    for (qsizetype i = 0; i < sorted.size() && same; ++i)
        same = sorted.at(i).id == m_items.at(i).id;
    if (same)
        return;
    m_items = std::move(sorted);
    emit itemsChanged();
}

void FileBrowserViewModel::setSelectedItemIDs(const QSet<QString>& ids)
{
    if (ids == m_selectedItemIDs)
        return;
    m_selectedItemIDs = ids;
    emit selectedItemIDsChanged();
}

QString FileBrowserViewModel::currentFolderPath() const
{
    return m_breadcrumbs.isEmpty() ? QString() : m_breadcrumbs.last().path;
}

void FileBrowserViewModel::setRepository(std::shared_ptr<FileRepository> repository,
                                         const QString& deviceId, quint64 attachment)
{
    // Nothing on screen or under way came from another repository.
    if (repository != m_repository) {
        m_shownPath.clear();
        m_runningGeneration = 0;
    }
    m_repository = std::move(repository);
    m_deviceId = deviceId;
    m_attachment = attachment;
    emit repositoryChanged();
}

QList<FileItem> FileBrowserViewModel::selectedItems() const
{
    QList<FileItem> selected;
    if (m_selectedItemIDs.isEmpty())
        return selected;
    for (const FileItem& item : m_items) {
        if (m_selectedItemIDs.contains(item.id))
            selected.append(item);
    }
    return selected;
}

QList<FileItem> FileBrowserViewModel::visibleSelectedItems() const
{
    QList<FileItem> selected;
    if (m_selectedItemIDs.isEmpty())
        return selected;
    for (const FileItem& item : m_items) {
        if (m_selectedItemIDs.contains(item.id) && matchesQuery(item, m_searchQuery))
            selected.append(item);
    }
    return selected;
}

bool FileBrowserViewModel::matchesQuery(const FileItem& item, const QString& query)
{
    return query.isEmpty() || item.name.contains(query, Qt::CaseInsensitive);
}

QList<FileItem> FileBrowserViewModel::filteredItems() const
{
    if (m_searchQuery.isEmpty())
        return m_items;
    QList<FileItem> matches;
    for (const FileItem& item : m_items) {
        if (matchesQuery(item, m_searchQuery))
            matches.append(item);
    }
    return matches;
}

void FileBrowserViewModel::setRoot(const QString& path, const QString& name)
{
    // A new storage starts with nothing selected: ids of another storage could name unrelated
    // items here.
    setSelectedItemIDs({});
    setBreadcrumbs({Breadcrumb{name, path}});
    reload();
}

void FileBrowserViewModel::open(const FileItem& item)
{
    if (!item.isDirectory)
        return;
    QList<Breadcrumb> crumbs = m_breadcrumbs;
    crumbs.append(Breadcrumb{item.name, item.path});
    setBreadcrumbs(std::move(crumbs));
    reload();
}

void FileBrowserViewModel::navigateUp()
{
    if (m_breadcrumbs.size() < 2)
        return;
    QList<Breadcrumb> crumbs = m_breadcrumbs;
    crumbs.removeLast();
    setBreadcrumbs(std::move(crumbs));
    reload();
}

void FileBrowserViewModel::navigateToBreadcrumb(qsizetype index)
{
    if (index < 0 || index >= m_breadcrumbs.size() - 1)
        return;
    setBreadcrumbs(m_breadcrumbs.mid(0, index + 1));
    reload();
}

void FileBrowserViewModel::refresh()
{
    startReload(true);
}

void FileBrowserViewModel::reload()
{
    startReload(false);
}

bool FileBrowserViewModel::showsCurrentFolder() const
{
    return !m_shownPath.isEmpty() && m_shownPath == currentFolderPath();
}

void FileBrowserViewModel::startReload(bool renew)
{
    // The folder's listing is under way: it is shown when it comes, and one more (for a change
    // made since it started) follows it, instead of dropping it for a new one that would wait
    // behind it on the phone all the same.
    if (m_runningGeneration != 0 && m_runningGeneration == m_generation && m_repository &&
        m_runningPath == currentFolderPath()) {
        m_reloadWaiting = true;
        m_renewWaiting = m_renewWaiting || renew;
        return;
    }
    const quint64 generation = ++m_generation;
    m_runningGeneration = 0;
    m_reloadWaiting = false;
    m_renewWaiting = false;
    if (m_breadcrumbs.isEmpty() || !m_repository) {
        m_shownPath.clear();
        setItems({});
        // The listing this one replaced will never publish, so nothing is loading any more.
        setIsLoading(false);
        return;
    }
    QFuture<void> renewal = readyFuture();
    if (renew) {
        m_repository->forgetListing(currentFolderPath());
        try {
            renewal = m_repository->renewSession();
        } catch (...) {
            renewal = failedFuture<void>(std::current_exception());
        }
    }
    m_runningGeneration = generation;
    m_runningPath = currentFolderPath();
    if (!showsCurrentFolder()) {
        m_shownPath.clear();
        setIsLoading(true);
        setErrorMessage(std::nullopt);
        setItems({});
    }
    const auto listAfter = [this, generation](QFuture<void> finished) {
        if (generation != m_generation)
            return;
        try {
            finished.waitForFinished(); // finished already; rethrows a stored failure
        } catch (...) {
            failListing(generation, errorText(std::current_exception()));
            return;
        }
        list(generation);
    };
    // Nothing to wait for: the listing starts at once, as it always did.
    if (renewal.isFinished() && !renewal.isCanceled())
        listAfter(renewal);
    else
        whenFinished(this, renewal, listAfter);
}

void FileBrowserViewModel::list(quint64 generation)
{
    const QString path = currentFolderPath();
    const FileSortOrder order = m_sortOrder;
    QFuture<QList<FileItem>> listing;
    try {
        listing = m_repository->listFiles(path);
    } catch (...) {
        listing = failedFuture<QList<FileItem>>(std::current_exception());
    }
    whenFinished(this, listing, [this, generation, order](QFuture<QList<FileItem>> finished) {
        if (generation != m_generation)
            return;
        QList<FileItem> items;
        try {
            finished.waitForFinished(); // finished already; rethrows a stored failure
            if (finished.resultCount() == 0)
                throw FileRepositoryError::transferCanceled();
            items = finished.result();
        } catch (...) {
            failListing(generation, errorText(std::current_exception()));
            return;
        }
        // Sorted by the order read when the listing started; see below for a later choice.
        QFuture<QList<FileItem>> sorting =
            QtConcurrent::run([items = std::move(items), order]() mutable {
                sortItems(items, order);
                return items;
            });
        whenFinished(this, sorting, [this, generation, order](QFuture<QList<FileItem>> sorted) {
            QList<FileItem> items = sorted.result();
            // The picker changed while the listing ran: show the order it shows.
            if (generation == m_generation && order != m_sortOrder)
                sortItems(items, m_sortOrder);
            finishListing(generation, std::move(items));
        });
    });
}

void FileBrowserViewModel::finishListing(quint64 generation, QList<FileItem> items)
{
    if (generation != m_generation)
        return;
    m_shownPath = currentFolderPath();
    setErrorMessage(std::nullopt);
    setItems(std::move(items));
    setIsLoading(false);
    listingEnded(generation);
}

void FileBrowserViewModel::failListing(quint64 generation, const QString& message)
{
    if (generation != m_generation)
        return;
    m_shownPath.clear();
    setItems({});
    setErrorMessage(message);
    setIsLoading(false);
    listingEnded(generation);
}

void FileBrowserViewModel::listingEnded(quint64 generation)
{
    if (generation != m_runningGeneration)
        return;
    m_runningGeneration = 0;
    if (m_reloadWaiting)
        startReload(m_renewWaiting);
}

void FileBrowserViewModel::setItems(QList<FileItem> items)
{
    // A folder listed again over itself keeps its ids: a renamed or edited item is a change.
    const auto same = [](const FileItem& a, const FileItem& b) {
        return a.id == b.id && a.name == b.name && a.path == b.path &&
               a.isDirectory == b.isDirectory && a.size == b.size && a.modifiedAt == b.modifiedAt &&
               a.mimeType == b.mimeType;
    };
    if (std::ranges::equal(items, m_items, same))
        return;
    m_items = std::move(items);
    emit itemsChanged();
}

void FileBrowserViewModel::setIsLoading(bool loading)
{
    if (loading == m_isLoading)
        return;
    m_isLoading = loading;
    emit isLoadingChanged();
}

void FileBrowserViewModel::setErrorMessage(const std::optional<QString>& message)
{
    if (message == m_errorMessage)
        return;
    m_errorMessage = message;
    emit errorMessageChanged();
}

void FileBrowserViewModel::setBreadcrumbs(QList<Breadcrumb> crumbs)
{
    m_breadcrumbs = std::move(crumbs);
    emit breadcrumbsChanged();
}

} // namespace qb
