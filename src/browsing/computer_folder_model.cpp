#include "browsing/computer_folder_model.h"

#include "core/device/device_model.h"
#include "platform/when_finished.h"
#include "ui_common/app_font_scale.h"
#include "ui_common/byte_count_format.h"
#include "ui_common/plain_text_tooltip.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPalette>
#include <QUrl>
#include <QtConcurrent>

#include <algorithm>
#include <numeric>
#include <utility>

namespace qb {

ComputerFolderModel::ComputerFolderModel(QObject* parent)
    : QAbstractTableModel(parent), m_generation(std::make_shared<std::atomic<quint64>>(0))
{
    // Rows take their text size from the font scale: a new scale lays them out again.
    connect(&AppFontScale::shared(), &AppFontScale::changed, this, [this] {
        emit layoutAboutToBeChanged();
        emit layoutChanged();
    });
}

ComputerFolderModel::~ComputerFolderModel()
{
    ++*m_generation; // a listing under way stops at its next check
}

void ComputerFolderModel::setDirectory(const QString& path)
{
    m_directory = path;
    if (!m_loading) {
        m_loading = true;
        emit loadingChanged(true);
    }
    start(path, false);
}

void ComputerFolderModel::refresh()
{
    if (m_loading) {
        setDirectory(m_directory); // what is under way may have read the folder already
        return;
    }
    start(m_directory, true);
}

void ComputerFolderModel::start(const QString& path, bool againstShown)
{
    const quint64 generation = ++*m_generation;
    const std::shared_ptr<std::atomic<quint64>> current = m_generation;
    QList<ComputerEntry> shown = againstShown ? m_entries : QList<ComputerEntry>();
    QFuture<Listing> listing = QtConcurrent::run(
        [path, generation, current, againstShown, shown = std::move(shown)]() mutable {
            // Let go of the rows shown before the result is handed over: the GUI thread then
            // changes its rows without copying them first.
            const QList<ComputerEntry> before = std::exchange(shown, {});
            const auto stillWanted = [&] {
                return current->load() == generation;
            };
            Listing result{list(path, stillWanted), std::nullopt};
            if (stillWanted())
                sort(result.entries);
            if (againstShown && stillWanted())
                result.diff = diff(before, result.entries);
            return result;
        });
    whenFinished(this, listing, [this, generation](const QFuture<Listing>& done) {
        apply(generation, done.resultCount() > 0 ? done.result() : Listing());
    });
}

void ComputerFolderModel::apply(quint64 generation, Listing listing)
{
    if (generation != m_generation->load())
        return; // a newer listing has been asked for
    QList<ComputerEntry> previous;
    if (listing.diff && !listing.diff->replace) {
        applyDiff(*listing.diff, listing.entries);
        // Equal rows; the listed ones are kept, as the future still holds them: freeing them
        // when it goes would hold the GUI thread.
        previous = std::exchange(m_entries, std::move(listing.entries));
    } else {
        beginResetModel();
        previous = std::exchange(m_entries, std::move(listing.entries));
        endResetModel();
    }
    // Freeing 100,000 names takes milliseconds; the pool does it, not the GUI thread.
    if (previous.size() > 1000)
        QThreadPool::globalInstance()->start([dropped = std::move(previous)] {});
    if (std::exchange(m_loading, false))
        emit loadingChanged(false);
    emit listed();
}

void ComputerFolderModel::applyDiff(const ListingDiff& diff, const QList<ComputerEntry>& entries)
{
    for (const auto& [first, count] : diff.removals) {
        beginRemoveRows({}, first, first + count - 1);
        m_entries.remove(first, count);
        endRemoveRows();
    }
    for (const auto& [first, count] : diff.insertions) {
        beginInsertRows({}, first, first + count - 1);
        m_entries.insert(first, count, ComputerEntry{});
        for (int row = first; row < first + count; ++row)
            m_entries[row] = entries.at(row);
        endInsertRows();
    }
    for (int row : diff.changed) {
        m_entries[row].size = entries.at(row).size;
        emit dataChanged(index(row, 1), index(row, 1));
    }
}

ComputerFolderModel::ListingDiff ComputerFolderModel::diff(const QList<ComputerEntry>& shown,
                                                           const QList<ComputerEntry>& listed)
{
    // Names are unique within a folder and never hold a slash.
    const auto key = [](const ComputerEntry& entry) {
        return entry.isDirectory ? entry.name + QLatin1Char('/') : entry.name;
    };
    QHash<QString, int> listedRows;
    listedRows.reserve(listed.size());
    for (int row = 0; row < listed.size(); ++row)
        listedRows.insert(key(listed.at(row)), row);

    ListingDiff result;
    std::vector<bool> kept(listed.size(), false);
    int lastKept = -1;
    int removalStart = -1;
    for (int row = 0; row < shown.size(); ++row) {
        const auto found = listedRows.constFind(key(shown.at(row)));
        if (found == listedRows.constEnd()) {
            if (removalStart < 0)
                removalStart = row;
            continue;
        }
        if (removalStart >= 0)
            result.removals.append({removalStart, row - removalStart});
        removalStart = -1;
        if (*found < lastKept) {
            result.replace = true; // the order of the rows kept changed
            return result;
        }
        lastKept = *found;
        kept[*found] = true;
        if (shown.at(row).size != listed.at(*found).size)
            result.changed.append(*found);
    }
    if (removalStart >= 0)
        result.removals.append({removalStart, int(shown.size()) - removalStart});
    std::reverse(result.removals.begin(), result.removals.end());
    for (int row = 0; row < listed.size(); ++row) {
        if (kept[row])
            continue;
        if (!result.insertions.isEmpty() &&
            result.insertions.last().first + result.insertions.last().second == row)
            ++result.insertions.last().second;
        else
            result.insertions.append({row, 1});
    }
    // Each run moves the rows after it; past this many moves one reset is cheaper.
    constexpr qint64 maxMovedRows = 1'000'000;
    const qint64 runs = result.removals.size() + result.insertions.size();
    result.replace = runs * std::max(shown.size(), listed.size()) > maxMovedRows;
    return result;
}

QList<ComputerEntry> ComputerFolderModel::list(const QString& path,
                                               const std::function<bool()>& stillWanted)
{
    QList<ComputerEntry> entries;
    if (path.isEmpty())
        return entries; // QDirIterator would list the working folder
    // Without QDir::Hidden the names beginning with a dot are left out.
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    while (it.hasNext()) {
        it.next();
        if (stillWanted && (entries.size() % 1024) == 0 && !stillWanted())
            return {};
        const QFileInfo info = it.fileInfo();
        ComputerEntry entry{info.fileName(), info.filePath(), info.isDir(), std::nullopt};
        if (!entry.isDirectory && info.exists())
            entry.size = info.size();
        entries.append(std::move(entry));
    }
    return entries;
}

void ComputerFolderModel::sort(QList<ComputerEntry>& entries)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // One key per entry: comparing keys is far cheaper than collating names per comparison.
    // Names are case-folded first: the collator of the C locale ignores the case setting.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(entries.size());
    for (const ComputerEntry& entry : entries)
        keys.push_back(collator.sortKey(entry.name.toCaseFolded()));
    std::vector<qsizetype> order(entries.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        if (entries[a].isDirectory != entries[b].isDirectory)
            return entries[a].isDirectory;
        return keys[a].compare(keys[b]) < 0;
    });
    QList<ComputerEntry> sorted;
    sorted.reserve(entries.size());
    for (qsizetype i : order)
        sorted.append(std::move(entries[i]));
    entries = std::move(sorted);
}

QIcon ComputerFolderModel::iconFor(const ComputerEntry& entry) const
{
    if (entry.isDirectory)
        return tintedSymbolIcon(QStringLiteral("folder.fill"), QPalette::Highlight);
    const qsizetype dot = entry.name.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot < 0 ? QString() : entry.name.mid(dot + 1).toLower();
    auto cached = m_icons.constFind(ext);
    if (cached != m_icons.constEnd())
        return *cached;
    // The desktop's icon for the file's type, else the symbol of the extension.
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(entry.name, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    if (icon.isNull())
        icon = tintedSymbolIcon(fileSymbolName(entry.name, false), QPalette::PlaceholderText);
    m_icons.insert(ext, icon);
    return icon;
}

int ComputerFolderModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

int ComputerFolderModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant ComputerFolderModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const ComputerEntry& entry = m_entries.at(index.row());
    if (role == PathRole)
        return entry.path;
    if (role == IsDirectoryRole)
        return entry.isDirectory;
    if (index.column() == 1) {
        switch (role) {
        case Qt::DisplayRole:
            if (entry.isDirectory)
                return QString();
            return entry.size ? formatByteCount(*entry.size) : QStringLiteral("\u2014");
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        case Qt::FontRole: {
            return AppFontScale::shared().scaled(fixedSizeFont(11, QFont()));
        }
        case Qt::ForegroundRole:
            return QPalette().brush(QPalette::PlaceholderText);
        default:
            return {};
        }
    }
    switch (role) {
    case Qt::DisplayRole:
        return entry.name;
    case Qt::ToolTipRole:
        return plainTextToolTip(entry.name);
    case Qt::DecorationRole:
        return iconFor(entry);
    case Qt::FontRole: {
        return AppFontScale::shared().scaled(fixedSizeFont(13, QFont()));
    }
    default:
        return {};
    }
}

Qt::ItemFlags ComputerFolderModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

QStringList ComputerFolderModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

QMimeData* ComputerFolderModel::mimeData(const QModelIndexList& indexes) const
{
    QList<int> rows;
    for (const QModelIndex& index : indexes) {
        if (index.isValid() && index.row() < m_entries.size())
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<QUrl> urls;
    for (int row : rows)
        urls.append(QUrl::fromLocalFile(m_entries.at(row).path));
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

} // namespace qb
