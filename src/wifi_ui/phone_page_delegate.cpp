#include "wifi_ui/phone_page_delegate.h"

#include "ui_common/symbol_icon.h"
#include "wifi_ui/phone_page_model.h"
#include "wifi_ui/wifi_formatters.h"
#include "wifi_ui/wifi_ui_style.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace qb {

using namespace wifiui;
using Kind = PhonePageRow::Kind;

namespace {

// Rows sit in a column padded 12 on both sides, as the page's scroll content.
constexpr int kInset = 12;
constexpr int kDividerIndent = 64;

const PhonePageRow* rowOf(const QModelIndex& index)
{
    const auto* model = dynamic_cast<const PhonePageModel*>(index.model());
    if (model == nullptr || !index.isValid() || index.row() >= model->rowCount())
        return nullptr;
    return &model->row(index.row());
}

QRect contentRect(const QRect& rowRect)
{
    return rowRect.adjusted(kInset, 0, -kInset, 0);
}

void drawDivider(QPainter* painter, const QStyleOptionViewItem& option, int left, int right, int y)
{
    painter->setPen(withAlpha(option.palette.color(QPalette::WindowText), 0.12));
    painter->drawLine(left, y, right, y);
}

void drawElided(QPainter* painter, const QRect& rect, const QString& text, Qt::TextElideMode mode,
                int flags = Qt::AlignLeft | Qt::AlignVCenter)
{
    const QString elided = painter->fontMetrics().elidedText(text, mode, rect.width());
    painter->drawText(rect, flags | Qt::TextSingleLine, elided);
}

int headerHeight()
{
    return 16 +
           std::max(QFontMetrics(textFont(TextStyle::Headline)).height(),
                    QFontMetrics(textFont(TextStyle::Caption)).height() + 4) +
           8;
}

int emptyHeight()
{
    return 40 + 56 + 14 + QFontMetrics(textFont(TextStyle::Title3, QFont::DemiBold)).height() + 14 +
           QFontMetrics(textFont(TextStyle::Callout)).height() + 24;
}

} // namespace

QSize PhonePageDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    // Called for every row at each layout: fixed heights per kind, the text metrics cached.
    static const int header = headerHeight();
    static const int empty = emptyHeight();
    const PhonePageRow* row = rowOf(index);
    const int width = option.rect.width() > 0 ? option.rect.width() : 300;
    if (row == nullptr)
        return {width, 0};
    switch (row->kind) {
    case Kind::PendingHeader:
    case Kind::ActivityHeader:
        return {width, header};
    case Kind::PendingFile:
        return {width, 56};
    case Kind::SectionDivider:
        return {width, 33};
    case Kind::Activity:
        return {width, 60};
    case Kind::Empty:
        return {width, empty};
    }
    return {width, 0};
}

QRect PhonePageDelegate::buttonRect(const QRect& rowRect, const QModelIndex& index)
{
    const PhonePageRow* row = rowOf(index);
    if (row == nullptr)
        return {};
    const QRect content = contentRect(rowRect).adjusted(12, 0, -12, 0);
    if (row->kind == Kind::Activity)
        return QRect(content.right() - 27, content.center().y() - 14, 28, 28);
    if (row->kind == Kind::PendingFile)
        return QRect(content.right() - 21, content.center().y() - 11, 22, 22);
    return {};
}

void PhonePageDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    const PhonePageRow* row = rowOf(index);
    if (row == nullptr)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    switch (row->kind) {
    case Kind::PendingHeader:
    case Kind::ActivityHeader:
        paintHeader(painter, option, index);
        break;
    case Kind::PendingFile:
        paintPending(painter, option, index);
        break;
    case Kind::SectionDivider: {
        const QRect content = contentRect(option.rect);
        drawDivider(painter, option, content.left(), content.right(), option.rect.center().y());
        break;
    }
    case Kind::Activity:
        paintActivity(painter, option, index);
        break;
    case Kind::Empty:
        paintEmpty(painter, option, index);
        break;
    }
    painter->restore();
}

void PhonePageDelegate::paintHeader(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const
{
    const PhonePageRow& row = *rowOf(index);
    const QRect area = contentRect(option.rect).adjusted(8, 16, -8, -8);
    const QColor text = option.palette.color(QPalette::Text);

    painter->setFont(textFont(TextStyle::Caption));
    const QString count = QString::number(row.count);
    const int capsuleWidth = painter->fontMetrics().horizontalAdvance(count) + 16;
    const int capsuleHeight = painter->fontMetrics().height() + 4;
    const QRectF capsule(area.right() - capsuleWidth + 1, area.center().y() - capsuleHeight / 2.0,
                         capsuleWidth, capsuleHeight);
    painter->setPen(Qt::NoPen);
    painter->setBrush(withAlpha(systemGray(), 0.15));
    painter->drawRoundedRect(capsule, capsuleHeight / 2.0, capsuleHeight / 2.0);
    painter->setPen(secondaryText(text));
    painter->drawText(capsule, Qt::AlignCenter, count);

    painter->setFont(textFont(TextStyle::Headline));
    painter->setPen(text);
    drawElided(painter, area.adjusted(0, 0, -capsuleWidth - 8, 0),
               index.data(Qt::DisplayRole).toString(), Qt::ElideRight);
}

void PhonePageDelegate::paintPending(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const
{
    const PhonePageRow& row = *rowOf(index);
    const QRect content = contentRect(option.rect);
    const QRect inner = content.adjusted(12, 10, -12, -10);
    const QColor text = option.palette.color(QPalette::Text);
    const QString name = singleLine(row.pending().url.fileName());

    fileIcon(name).paint(painter, QRect(inner.left(), inner.top(), 36, 36));

    const QRect button = buttonRect(option.rect, index);
    const QRect column(inner.left() + 48, inner.top(), button.left() - 8 - inner.left() - 48,
                       inner.height());
    painter->setFont(textFont(TextStyle::Callout, QFont::Medium));
    painter->setPen(text);
    const int nameHeight = painter->fontMetrics().height();
    drawElided(painter, QRect(column.left(), column.top(), column.width(), nameHeight), name,
               Qt::ElideMiddle);

    painter->setFont(textFont(TextStyle::Caption));
    painter->setPen(secondaryText(text));
    const int lineTop = column.top() + nameHeight + 3;
    const int lineHeight = painter->fontMetrics().height();
    const QPixmap clock = tintedSymbol(QStringLiteral("clock"), lineHeight - 2, secondaryText(text),
                                       painter->device()->devicePixelRatioF());
    if (!clock.isNull())
        painter->drawPixmap(QRect(column.left(), lineTop + 1, lineHeight - 2, lineHeight - 2),
                            clock);
    drawElided(
        painter,
        QRect(column.left() + lineHeight + 4, lineTop, column.width() - lineHeight - 4, lineHeight),
        waitingForPhoneText(), Qt::ElideRight);

    // The cancel button: a grey disc with a cross.
    const QRectF disc = QRectF(button).adjusted(3, 3, -3, -3);
    painter->setPen(Qt::NoPen);
    painter->setBrush(secondaryText(text));
    painter->drawEllipse(disc);
    painter->setPen(QPen(option.palette.color(QPalette::Base), 1.6, Qt::SolidLine, Qt::RoundCap));
    const qreal d = disc.width() * 0.2;
    painter->drawLine(disc.center() + QPointF(-d, -d), disc.center() + QPointF(d, d));
    painter->drawLine(disc.center() + QPointF(-d, d), disc.center() + QPointF(d, -d));

    if (!index.data(PhonePageModel::LastInSectionRole).toBool())
        drawDivider(painter, option, content.left() + kDividerIndent, content.right(),
                    option.rect.bottom());
}

void PhonePageDelegate::paintActivity(QPainter* painter, const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
{
    const PhonePageRow& row = *rowOf(index);
    const TransferEntry& entry = row.entry();
    const QRect content = contentRect(option.rect);
    const bool selected = index.data(PhonePageModel::SelectedRole).toBool();
    const bool hovered = option.state.testFlag(QStyle::State_MouseOver);
    const QColor accent = option.palette.color(QPalette::Highlight);
    const QColor text = option.palette.color(QPalette::Text);

    const QRectF background = QRectF(content).adjusted(0, 0.5, 0, -0.5);
    if (selected || hovered) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(selected ? accent : withAlpha(systemBlue(), 0.1));
        painter->drawRoundedRect(background, 8, 8);
    }

    const QRect inner = content.adjusted(12, 10, -12, -10);
    const QString name = singleLine(entry.url().fileName());
    fileIcon(name).paint(painter, QRect(inner.left(), inner.top() + 2, 36, 36));
    const QRectF badge(inner.left() + 40 - 16 + 4, inner.top() + 40 - 16 + 4, 16, 16);
    paintDirectionBadge(*painter, badge, entry.isReceived(), option.palette.color(QPalette::Base));

    const QRect button = buttonRect(option.rect, index);
    const QRect column(inner.left() + 52, inner.top(), button.left() - 8 - inner.left() - 52,
                       inner.height());
    painter->setFont(textFont(TextStyle::Callout, QFont::Medium));
    painter->setPen(selected ? QColor(Qt::white) : text);
    const int nameHeight = painter->fontMetrics().height();
    const int top = column.top() + (column.height() - nameHeight * 2 - 3) / 2;
    drawElided(painter, QRect(column.left(), top, column.width(), nameHeight), name,
               Qt::ElideMiddle);

    painter->setFont(textFont(TextStyle::Caption));
    painter->setPen(selected ? withAlpha(Qt::white, 0.85) : secondaryText(text));
    const QString detail = activityDetails(entry).join(QStringLiteral("  \u2022  "));
    drawElided(painter, QRect(column.left(), top + nameHeight + 3, column.width(), nameHeight),
               detail, Qt::ElideRight);

    const QPixmap folder =
        tintedSymbol(QStringLiteral("folder"), 16, selected ? QColor(Qt::white) : accent,
                     painter->device()->devicePixelRatioF());
    if (!folder.isNull())
        painter->drawPixmap(QRect(button.center() - QPoint(7, 7), QSize(16, 16)), folder);

    if (!index.data(PhonePageModel::LastInSectionRole).toBool())
        drawDivider(painter, option, content.left() + kDividerIndent, content.right(),
                    option.rect.bottom());
}

void PhonePageDelegate::paintEmpty(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    const PhonePageRow& row = *rowOf(index);
    const QRect area = contentRect(option.rect).adjusted(0, 40, 0, 0);
    const QColor text = option.palette.color(QPalette::Text);
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QPixmap symbol =
        tintedSymbol(QStringLiteral("arrow.up.arrow.down.circle"), 56, secondaryText(text), ratio);
    if (!symbol.isNull())
        painter->drawPixmap(QRect(area.center().x() - 28, area.top(), 56, 56), symbol);

    int y = area.top() + 56 + 14;
    painter->setFont(textFont(TextStyle::Title3, QFont::DemiBold));
    painter->setPen(text);
    int height = painter->fontMetrics().height();
    painter->drawText(QRect(area.left(), y, area.width(), height), Qt::AlignCenter,
                      index.data(Qt::DisplayRole).toString());
    y += height + 14;
    painter->setFont(textFont(TextStyle::Callout));
    painter->setPen(secondaryText(text));
    height = painter->fontMetrics().height();
    drawElided(painter, QRect(area.left(), y, area.width(), height),
               QStringLiteral("Files exchanged with ") + singleLine(row.peerName) +
                   QStringLiteral(" will appear here."),
               Qt::ElideMiddle, Qt::AlignHCenter | Qt::AlignVCenter);
}

bool PhonePageDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                  const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const PhonePageRow* row = rowOf(index);
    if (row != nullptr && event->type() == QEvent::ToolTip &&
        buttonRect(option.rect, index).contains(event->pos())) {
        QToolTip::showText(event->globalPos(),
                           row->kind == Kind::Activity ? tr("Show in File Manager") : tr("Cancel"),
                           view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

PhonePageListView::PhonePageListView(QWidget* parent) : QListView(parent)
{
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::NoFrame);
    setResizeMode(QListView::Adjust);
    viewport()->setAutoFillBackground(false);
}

bool PhonePageListView::isEntry(const QModelIndex& index) const
{
    const PhonePageRow* row = rowOf(index);
    return row != nullptr && row->kind == Kind::Activity;
}

QModelIndex PhonePageListView::buttonAt(const QPoint& pos) const
{
    const QModelIndex index = indexAt(pos);
    if (index.isValid() && PhonePageDelegate::buttonRect(visualRect(index), index).contains(pos))
        return index;
    return {};
}

void PhonePageListView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QListView::mousePressEvent(event);
        return;
    }
    m_pressedButton = buttonAt(event->position().toPoint());
    if (m_pressedButton.isValid())
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (isEntry(index))
        emit entrySelected(index);
    setCurrentIndex(index);
}

void PhonePageListView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_pressedButton.isValid()) {
        const QModelIndex released = buttonAt(event->position().toPoint());
        const QModelIndex pressed = m_pressedButton;
        m_pressedButton = QPersistentModelIndex();
        if (released == pressed)
            emit buttonClicked(pressed);
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void PhonePageListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || buttonAt(event->position().toPoint()).isValid())
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (isEntry(index))
        emit entryOpened(index);
}

void PhonePageListView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(event->pos());
    if (isEntry(index))
        emit entryMenuRequested(index, event->globalPos());
}

void PhonePageListView::keyPressEvent(QKeyEvent* event)
{
    // The keyboard reaches the same actions: Return opens the current entry, Space selects it,
    // Delete cancels a waiting file.
    const QModelIndex current = currentIndex();
    // Delete on a waiting file does what its cancel button does.
    const PhonePageRow* row = rowOf(current);
    if (row != nullptr && row->kind == Kind::PendingFile && event->key() == Qt::Key_Delete) {
        emit buttonClicked(current);
        return;
    }
    if (isEntry(current) && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        emit entryOpened(current);
        return;
    }
    if (isEntry(current) && event->key() == Qt::Key_Space) {
        emit entrySelected(current);
        return;
    }
    QListView::keyPressEvent(event);
}

} // namespace qb
