#pragma once

#include <QListView>
#include <QStyledItemDelegate>

namespace qb {

// One tile: the item's symbol at 32 in a 48 square, its name below on at most two centred lines,
// a rounded accent highlight and border while selected. Symbols keep their size; the name
// follows the font scale.
class FileTileDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int iconSize = 32;
    static constexpr int iconFrame = 48;
    static constexpr int padding = 8;
    static constexpr int spacing = 6;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The tile's name font: 11 pixels times the font scale.
    static QFont nameFont();
    static int tileHeight();

    void setTileWidth(int width) { m_tileWidth = width; }

private:
    int m_tileWidth = 96;
};

// The grid of the phone pane: adaptive columns 96 to 120 wide, 8 apart, rows 12 apart, padded
// 12. A click selects one tile; the tiles show every selected row, whoever selected it.
class FileGridView : public QListView
{
    Q_OBJECT

public:
    static constexpr int minTileWidth = 96;
    static constexpr int maxTileWidth = 120;
    static constexpr int columnSpacing = 8;
    static constexpr int rowSpacing = 12;
    static constexpr int margin = 12;

    explicit FileGridView(QWidget* parent = nullptr);

    // The tile width that fits the most columns into `width` (tests read it).
    static int tileWidthFor(int width);
    void updateGrid();

protected:
    void resizeEvent(QResizeEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    FileTileDelegate* m_delegate;
};

// Whether the event is a press or release of the right mouse button. That click opens a context
// menu and leaves the selection alone: the menu's entry writes it, if any does.
bool isContextClick(const QEvent* event);

// Starts a drag of the one item under the pointer (not the whole selection); shared by the
// table and the grid.
void startSingleItemDrag(QAbstractItemView* view, Qt::DropActions actions);

} // namespace qb
