#include "browsing/folder_item_model.h"

#include "browsing/file_browser_view_model.h"
#include "browsing/file_item_format.h"
#include "ui_common/app_font_scale.h"
#include "ui_common/plain_text_tooltip.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QApplication>
#include <QMimeData>
#include <QPalette>
#include <QSet>

namespace qb {

FolderItemModel::FolderItemModel(FileBrowserViewModel& browser, QObject* parent)
    : QAbstractTableModel(parent), m_browser(browser)
{
    connect(&browser, &FileBrowserViewModel::itemsChanged, this, &FolderItemModel::refresh);
    connect(&browser, &FileBrowserViewModel::searchQueryChanged, this, &FolderItemModel::refresh);
    connect(&AppFontScale::shared(), &AppFontScale::changed, this, [this] {
        if (!m_rows.isEmpty())
            emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::FontRole});
    });
    m_rows = browser.filteredItems();
    indexRows();
}

void FolderItemModel::refresh()
{
    QList<FileItem> rows = m_browser.filteredItems();
    bool sameRows = rows.size() == m_rows.size();
    if (sameRows) {
        for (const FileItem& item : rows) {
            if (!m_rowById.contains(item.id)) {
                sameRows = false;
                break;
            }
        }
    }
    if (!sameRows) {
        beginResetModel();
        m_rows = std::move(rows);
        indexRows();
        endResetModel();
        return;
    }
    // The same rows in a new order (a re-sort): move them, keeping persistent indexes.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QStringList idsBefore;
    idsBefore.reserve(before.size());
    for (const QModelIndex& index : before)
        idsBefore.append(m_rows.at(index.row()).id);
    m_rows = std::move(rows);
    indexRows();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after.append(index(m_rowById.value(idsBefore.at(i)), before.at(i).column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void FolderItemModel::indexRows()
{
    m_rowById.clear();
    m_rowById.reserve(m_rows.size());
    for (int row = 0; row < m_rows.size(); ++row)
        m_rowById.insert(m_rows.at(row).id, row);
}

int FolderItemModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int FolderItemModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString FolderItemModel::displayName(const QString& name)
{
    QString line = name;
    for (QChar& c : line) {
        const auto category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return line;
}

QIcon FolderItemModel::iconFor(const FileItem& item) const
{
    const QString symbol = item.iconName();
    auto it = m_icons.constFind(symbol);
    if (it == m_icons.constEnd()) {
        // Folders in the accent colour, files in the secondary one.
        it = m_icons.insert(symbol,
                            tintedSymbolIcon(symbol, item.isDirectory ? QPalette::Highlight
                                                                      : QPalette::PlaceholderText));
    }
    return *it;
}

QVariant FolderItemModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const FileItem& item = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return displayName(item.name);
        case SizeColumn:
            return FileItemFormat::sizeText(item);
        case ModifiedColumn:
            return FileItemFormat::dateText(item);
        case KindColumn:
            return FileItemFormat::kindText(item);
        }
        return {};
    case Qt::DecorationRole:
        return index.column() == NameColumn ? QVariant(iconFor(item)) : QVariant();
    case Qt::FontRole:
        return index.column() == NameColumn ? QVariant(AppFontScale::shared().scaled(
                                                  fixedSizeFont(13, QApplication::font())))
                                            : QVariant();
    case Qt::ForegroundRole:
        return index.column() == NameColumn
                   ? QVariant()
                   : QVariant(QApplication::palette().color(QPalette::PlaceholderText));
    case Qt::ToolTipRole:
        return index.column() == NameColumn ? QVariant(plainTextToolTip(displayName(item.name)))
                                            : QVariant();
    case Qt::AccessibleTextRole:
        return index.column() == NameColumn ? QVariant(displayName(item.name)) : QVariant();
    case IdRole:
        return item.id;
    case IsDirectoryRole:
        return item.isDirectory;
    }
    return {};
}

QVariant FolderItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return tr("Name");
    case SizeColumn:
        return tr("Size");
    case ModifiedColumn:
        return tr("Modified");
    case KindColumn:
        return tr("Kind");
    }
    return {};
}

Qt::ItemFlags FolderItemModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (m_mimeWriter && index.column() == NameColumn)
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}

void FolderItemModel::setMimeWriter(QStringList types, MimeWriter writer)
{
    m_mimeTypes = std::move(types);
    m_mimeWriter = std::move(writer);
}

QStringList FolderItemModel::mimeTypes() const
{
    return m_mimeTypes;
}

QMimeData* FolderItemModel::mimeData(const QModelIndexList& indexes) const
{
    if (!m_mimeWriter)
        return nullptr;
    QList<FileItem> items;
    QSet<int> rows;
    for (const QModelIndex& index : indexes) {
        if (index.isValid() && index.row() < m_rows.size() && !rows.contains(index.row())) {
            rows.insert(index.row());
            items.append(m_rows.at(index.row()));
        }
    }
    return items.isEmpty() ? nullptr : m_mimeWriter(items);
}

Qt::DropActions FolderItemModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

} // namespace qb
