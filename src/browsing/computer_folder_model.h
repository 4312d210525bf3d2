#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>

namespace qb {

// One entry of a computer folder.
struct ComputerEntry
{
    QString name;
    QString path;
    bool isDirectory = false;
    std::optional<qint64> size; // none when the file's attributes cannot be read
};

} // namespace qb

// Rows inserted into a long listing move the rows after them by a memory move.
Q_DECLARE_TYPEINFO(qb::ComputerEntry, Q_RELOCATABLE_TYPE);

namespace qb {

// The entries of one computer folder, listed off the GUI thread: hidden entries skipped, folders
// first, then names in the locale's case-insensitive order. Only the newest listing is ever
// shown; an older one that finishes later is dropped. Rows drag out as file URLs. Columns: the
// name with its icon, and the size (an em dash when it cannot be read, blank for folders).
// A new folder replaces the rows; listing the same folder again with refresh() changes only the
// rows that changed, so that views keep their selection, current row and scroll position
// (changes scattered all over a long folder replace the rows instead).
class ComputerFolderModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role { PathRole = Qt::UserRole + 1, IsDirectoryRole };

    explicit ComputerFolderModel(QObject* parent = nullptr);
    ~ComputerFolderModel() override;

    // Starts listing `path`, superseding any listing under way.
    void setDirectory(const QString& path);
    // Lists the folder shown again without showing a load: entries that came are inserted,
    // entries that went are removed, changed sizes are updated. While a folder is loading, its
    // listing starts over instead.
    void refresh();
    QString directory() const { return m_directory; }
    bool isLoading() const { return m_loading; }
    const QList<ComputerEntry>& entries() const { return m_entries; }

    // The listing itself, callable from any thread; stops early (with nothing) once `stillWanted`
    // turns false. A folder that cannot be listed gives no entries.
    static QList<ComputerEntry> list(const QString& path,
                                     const std::function<bool()>& stillWanted = {});
    // Folders first, then the locale's case-insensitive order; stable.
    static void sort(QList<ComputerEntry>& entries);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

    // How a listing of the same folder becomes the rows shown: runs of rows to remove (old rows,
    // last run first), then runs to insert (new rows, first run first), then rows whose size
    // changed (new rows). Entries are the same when name and kind are. `replace` when the
    // order of the entries kept changed, or moving the rows one run at a time would cost more
    // than replacing them all.
    struct ListingDiff
    {
        QList<std::pair<int, int>> removals; // first row, count
        QList<std::pair<int, int>> insertions;
        QList<int> changed;
        bool replace = false;
    };
    static ListingDiff diff(const QList<ComputerEntry>& shown, const QList<ComputerEntry>& listed);

signals:
    void loadingChanged(bool loading);
    // A listing has been shown (also when it found nothing).
    void listed();

private:
    struct Listing
    {
        QList<ComputerEntry> entries;
        std::optional<ListingDiff> diff; // against the rows shown when the listing started
    };

    void start(const QString& path, bool againstShown);
    void apply(quint64 generation, Listing listing);
    void applyDiff(const ListingDiff& diff, const QList<ComputerEntry>& entries);
    QIcon iconFor(const ComputerEntry& entry) const;

    QString m_directory;
    QList<ComputerEntry> m_entries;
    bool m_loading = false;
    std::shared_ptr<std::atomic<quint64>> m_generation;
    mutable QHash<QString, QIcon> m_icons; // by extension
};

} // namespace qb
