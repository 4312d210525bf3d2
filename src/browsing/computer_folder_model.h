#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

namespace qb {

// One entry of a computer folder.
struct ComputerEntry
{
    QString name;
    QString path;
    bool isDirectory = false;
    std::optional<qint64> size; // none when the file's attributes cannot be read
};

// The entries of one computer folder, listed off the GUI thread: hidden entries skipped, folders
// first, then names in the locale's case-insensitive order. Only the newest listing is ever
// shown; an older one that finishes later is dropped. Rows drag out as file URLs. Columns: the
// name with its icon, and the size (an em dash when it cannot be read, blank for folders).
class ComputerFolderModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role { PathRole = Qt::UserRole + 1, IsDirectoryRole };

    explicit ComputerFolderModel(QObject* parent = nullptr);
    ~ComputerFolderModel() override;

    // Starts listing `path`, superseding any listing under way.
    void setDirectory(const QString& path);
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

signals:
    void loadingChanged(bool loading);
    // A listing has been shown (also when it found nothing).
    void listed();

private:
    void apply(quint64 generation, QList<ComputerEntry> entries);
    QIcon iconFor(const ComputerEntry& entry) const;

    QString m_directory;
    QList<ComputerEntry> m_entries;
    bool m_loading = false;
    std::shared_ptr<std::atomic<quint64>> m_generation;
    mutable QHash<QString, QIcon> m_icons; // by extension
};

} // namespace qb
