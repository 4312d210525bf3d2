#include "browsing/file_grid_view.h"

#include "browsing/folder_item_model.h"
#include "ui_common/app_font_scale.h"
#include "ui_common/text_styles.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>

namespace qb {

namespace {

// The name on at most two lines, each centred; the second ends with an ellipsis when cut.
QStringList twoLines(const QString& text, const QFont& font, int width)
{
    const QFontMetrics metrics(font);
    QTextLayout layout(text, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    while (lines.size() < 2) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() == 1) {
            lines.append(metrics.elidedText(text.mid(line.textStart()), Qt::ElideRight, width));
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    return lines;
}

} // namespace

QFont FileTileDelegate::nameFont()
{
    return AppFontScale::shared().scaled(fixedSizeFont(11, QApplication::font()));
}

int FileTileDelegate::tileHeight()
{
    const QFontMetrics metrics(nameFont());
    return padding + iconFrame + spacing + 2 * metrics.lineSpacing() + padding;
}

QSize FileTileDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return {m_tileWidth, tileHeight()};
}

void FileTileDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF tile = QRectF(option.rect).adjusted(0.75, 0.75, -0.75, -0.75);
    if (option.state & QStyle::State_Selected) {
        QColor accent = option.palette.color(QPalette::Highlight);
        QPainterPath path;
        path.addRoundedRect(tile, 8, 8);
        QColor fill = accent;
        fill.setAlphaF(0.18);
        painter->fillPath(path, fill);
        painter->setPen(QPen(accent, 1.5));
        painter->drawPath(path);
    }
    const QRect frame(option.rect.center().x() - iconFrame / 2, option.rect.top() + padding,
                      iconFrame, iconFrame);
    const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
    icon.paint(painter, frame.adjusted((iconFrame - iconSize) / 2, (iconFrame - iconSize) / 2,
                                       -(iconFrame - iconSize) / 2, -(iconFrame - iconSize) / 2));

    const QFont font = nameFont();
    const QFontMetrics metrics(font);
    painter->setFont(font);
    painter->setPen(option.palette.color(QPalette::Text));
    const int textWidth = option.rect.width() - 2 * padding;
    int y = frame.bottom() + 1 + spacing;
    for (const QString& line : twoLines(index.data(Qt::DisplayRole).toString(), font, textWidth)) {
        const QRect lineRect(option.rect.left() + padding, y, textWidth, metrics.lineSpacing());
        painter->drawText(lineRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, line);
        y += metrics.lineSpacing();
    }
    painter->restore();
}

FileGridView::FileGridView(QWidget* parent) : QListView(parent)
{
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWrapping(true);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionRectVisible(false);
    setSpacing(0);
    setViewportMargins(margin, margin, margin, margin);
    m_delegate = new FileTileDelegate(this);
    setItemDelegate(m_delegate);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    connect(&AppFontScale::shared(), &AppFontScale::changed, this, &FileGridView::updateGrid);
}

int FileGridView::tileWidthFor(int width)
{
    // Every cell is a tile and the spacing, so n cells take n * (tile + spacing).
    const int columns = std::max(1, width / (minTileWidth + columnSpacing));
    const int fitted = width / columns - columnSpacing;
    return std::clamp(fitted, minTileWidth, maxTileWidth);
}

void FileGridView::updateGrid()
{
    const int width = tileWidthFor(viewport()->width());
    m_delegate->setTileWidth(width);
    // Each grid cell holds a tile with half the spacing on either side (tiles are centred in
    // their cells), so neighbouring tiles stand 8 apart across and 12 apart down.
    setGridSize(QSize(width + columnSpacing, FileTileDelegate::tileHeight() + rowSpacing));
}

void FileGridView::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    updateGrid();
}

QItemSelectionModel::SelectionFlags FileGridView::selectionCommand(const QModelIndex& index,
                                                                   const QEvent* event) const
{
    // A click on the background selects nothing and clears nothing.
    if (!index.isValid() || isContextClick(event))
        return QItemSelectionModel::NoUpdate;
    // A tile selects itself alone, whatever modifier is held, and its whole row: the table
    // shares the selection.
    if (event &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease))
        return event->type() == QEvent::MouseButtonPress
                   ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                   : QItemSelectionModel::NoUpdate;
    const auto flags = QListView::selectionCommand(index, event);
    return flags == QItemSelectionModel::NoUpdate ? flags : flags | QItemSelectionModel::Rows;
}

void FileGridView::startDrag(Qt::DropActions supportedActions)
{
    startSingleItemDrag(this, supportedActions);
}

bool isContextClick(const QEvent* event)
{
    return event &&
           (event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::MouseButtonRelease) &&
           static_cast<const QMouseEvent*>(event)->button() == Qt::RightButton;
}

void startSingleItemDrag(QAbstractItemView* view, Qt::DropActions actions)
{
    const QModelIndex index = view->currentIndex();
    if (!index.isValid() || !view->model())
        return;
    QMimeData* data = view->model()->mimeData({index.siblingAtColumn(0)});
    if (!data)
        return;
    auto* drag = new QDrag(view);
    drag->setMimeData(data);
    const QIcon icon = index.siblingAtColumn(0).data(Qt::DecorationRole).value<QIcon>();
    if (!icon.isNull())
        drag->setPixmap(icon.pixmap(32, 32));
    drag->exec(actions, Qt::CopyAction);
}

} // namespace qb
