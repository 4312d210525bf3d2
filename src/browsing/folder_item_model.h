#pragma once

#include "core/device/device_model.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QList>

#include <functional>

namespace qb {

class FileBrowserViewModel;

// The rows of the folder on screen (the view model's filtered items), shared by the table and
// the grid. A new order of the same rows moves them in place, so selection and scroll position
// survive a re-sort; any other change of rows resets the model, after which the list restores
// the selection from the view model.
class FolderItemModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { NameColumn, SizeColumn, ModifiedColumn, KindColumn, ColumnCount };
    static constexpr int IdRole = Qt::UserRole + 1;
    static constexpr int IsDirectoryRole = Qt::UserRole + 2;
    // Writes the drag payload of the dragged rows; set by whoever owns the payload format.
    using MimeWriter = std::function<QMimeData*(const QList<FileItem>&)>;

    explicit FolderItemModel(FileBrowserViewModel& browser, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;

    const QList<FileItem>& rows() const { return m_rows; }
    const FileItem& itemAt(int row) const { return m_rows.at(row); }
    // The row of an id, or -1.
    int rowOf(const QString& id) const { return m_rowById.value(id, -1); }
    void setMimeWriter(QStringList types, MimeWriter writer);

    // A name as one line of plain text: line breaks, tabs and other control characters become
    // blanks, so a name can neither wrap nor be taken for markup.
    static QString displayName(const QString& name);

private:
    void refresh();
    void indexRows();
    QIcon iconFor(const FileItem& item) const;

    FileBrowserViewModel& m_browser;
    QList<FileItem> m_rows;
    QHash<QString, int> m_rowById;
    mutable QHash<QString, QIcon> m_icons;
    QStringList m_mimeTypes;
    MimeWriter m_mimeWriter;
};

} // namespace qb
