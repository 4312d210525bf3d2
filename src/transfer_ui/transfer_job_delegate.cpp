#include "transfer_ui/transfer_job_delegate.h"

#include "transfer_ui/transfer_job_list_model.h"
#include "transfer_ui/transfer_row_controls.h"
#include "ui_common/symbol_icon.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace qb {

namespace {

constexpr int kPadding = 4;     // above and below the row
constexpr int kSideInset = 8;   // the list's own inset at the sides
constexpr int kLineSpacing = 6; // between the top line, the progress section and the error
constexpr int kSpacing = 8;     // between items of a line
constexpr int kKindImage = 20;
constexpr int kStatusFrame = 16;
constexpr int kBarHeight = 6;

struct Fonts
{
    QFont title;
    QFont caption;
    QFont detail;
};

QFont resized(QFont font, double factor)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * factor))));
    return font;
}

Fonts fontsFor(const QFont& base)
{
    Fonts fonts{base, resized(base, 0.85), resized(base, 0.8)};
    fonts.title.setBold(true);
    return fonts;
}

QColor tintColor(StatusTint tint, const QPalette& palette)
{
    switch (tint) {
    case StatusTint::Accent:
        return palette.color(QPalette::Highlight);
    case StatusTint::Orange:
        return QColor(255, 149, 0);
    case StatusTint::Green:
        return QColor(40, 180, 70);
    case StatusTint::Red:
        return QColor(230, 50, 40);
    case StatusTint::Secondary:
        break;
    }
    return palette.color(QPalette::PlaceholderText);
}

int topLineHeight(const Fonts& fonts)
{
    const int titles =
        QFontMetrics(fonts.title).height() + 2 + QFontMetrics(fonts.caption).height();
    return std::max({kKindImage, TransferRowControls::buttonSize, titles});
}

int progressSectionHeight(const Fonts& fonts)
{
    return kBarHeight + 2 + QFontMetrics(fonts.detail).height();
}

// The error in at most two lines, the second elided when the text needs more.
QStringList errorLines(const QString& error, const QFont& font, int width)
{
    const QString text = error.simplified();
    QTextLayout layout(text, font);
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(wrapping);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid() && lines.size() < 2;
         line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        if (lines.size() == 1) {
            lines.append(
                QFontMetrics(font).elidedText(text.mid(line.textStart()), Qt::ElideRight, width));
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines;
}

int contentWidth(const QStyleOptionViewItem& option)
{
    int width = option.rect.width();
    if (width <= 0) {
        // Views ask for row heights with no width; the rows span the viewport.
        if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
            width = view->viewport()->width();
    }
    return std::max(0, width - 2 * kSideInset);
}

TransferJob jobAt(const QModelIndex& index)
{
    return index.data(TransferJobListModel::JobRole).value<TransferJob>();
}

QRect topLineRect(const QStyleOptionViewItem& option, const Fonts& fonts)
{
    return QRect(option.rect.left() + kSideInset, option.rect.top() + kPadding,
                 option.rect.width() - 2 * kSideInset, topLineHeight(fonts));
}

// The area of the two buttons at most, just left of the status symbol.
QRect controlsArea(const QStyleOptionViewItem& option)
{
    const QRect line = topLineRect(option, fontsFor(option.font));
    constexpr int width = 2 * TransferRowControls::buttonSize + TransferRowControls::spacing;
    const int right = line.right() - kStatusFrame - TransferRowControls::spacing;
    return QRect(right - width + 1, line.center().y() - TransferRowControls::buttonSize / 2 + 1,
                 width, TransferRowControls::buttonSize);
}

void drawSymbol(QPainter* painter, const QString& symbol, const QRect& area, int size,
                const QColor& color)
{
    const QPixmap pixmap =
        tintedSymbol(symbol, size, color, painter->device()->devicePixelRatioF());
    if (pixmap.isNull())
        return;
    const QRect target(area.center().x() - size / 2 + 1, area.center().y() - size / 2 + 1, size,
                       size);
    painter->drawPixmap(target, pixmap);
}

} // namespace

TransferJobDelegate::TransferJobDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QList<std::pair<RowAction, QRect>>
TransferJobDelegate::buttonAreas(const QStyleOptionViewItem& option, TransferStatus status) const
{
    const QRect area = controlsArea(option);
    const QList<RowAction> actions = rowActions(status);
    QList<std::pair<RowAction, QRect>> areas;
    const int count = int(actions.size());
    for (int i = 0; i < count; ++i) {
        const int offset = (count - i) * TransferRowControls::buttonSize +
                           (count - 1 - i) * TransferRowControls::spacing;
        areas.append({actions.at(i),
                      QRect(area.right() + 1 - offset, area.top(), TransferRowControls::buttonSize,
                            TransferRowControls::buttonSize)});
    }
    return areas;
}

void TransferJobDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    const TransferJob job = jobAt(index);
    const Fonts fonts = fontsFor(option.font);
    const QPalette& palette = option.palette;
    const QColor secondary = palette.color(QPalette::PlaceholderText);
    const QColor statusColor = tintColor(statusTint(job.status), palette);

    // The list has no selection: draw the plain (hover) background only.
    QStyleOptionViewItem background = option;
    background.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, option.widget);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect line = topLineRect(option, fonts);
    const QRect kindArea(line.left(), line.top(), kKindImage, line.height());
    drawSymbol(painter, kindSymbol(job.type), kindArea, kKindImage, statusColor);

    const auto buttons = buttonAreas(option, job.status);
    const QRect statusArea(line.right() - kStatusFrame + 1, line.top(), kStatusFrame,
                           line.height());
    drawSymbol(painter, statusSymbol(job.status), statusArea, kStatusFrame, statusColor);
    for (const auto& [action, area] : buttons) {
        drawSymbol(painter, actionSymbol(action), area, 16,
                   action == RowAction::Cancel ? secondary : palette.color(QPalette::ButtonText));
    }

    const int titleLeft = kindArea.right() + 1 + kSpacing;
    const int titleRight = (buttons.isEmpty() ? statusArea.left() : buttons.first().second.left());
    const int titleWidth = std::max(0, titleRight - kSpacing - titleLeft);
    const QFontMetrics titleMetrics(fonts.title);
    const QFontMetrics captionMetrics(fonts.caption);
    const int titleTop =
        line.center().y() - (titleMetrics.height() + 2 + captionMetrics.height()) / 2 + 1;
    painter->setFont(fonts.title);
    painter->setPen(palette.color(QPalette::Text));
    painter->drawText(QRect(titleLeft, titleTop, titleWidth, titleMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      titleMetrics.elidedText(sourceName(job), Qt::ElideRight, titleWidth));
    painter->setFont(fonts.caption);
    painter->setPen(secondary);
    painter->drawText(
        QRect(titleLeft, titleTop + titleMetrics.height() + 2, titleWidth, captionMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        captionMetrics.elidedText(kindLabel(job.type), Qt::ElideRight, titleWidth));

    int y = line.bottom() + 1;
    if (showsProgressSection(job.status)) {
        y += kLineSpacing;
        const QRectF track(line.left(), y, line.width(), kBarHeight);
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette.color(QPalette::Mid));
        painter->drawRoundedRect(track, kBarHeight / 2.0, kBarHeight / 2.0);
        const double fraction = std::isnan(job.progress) ? 0 : std::clamp(job.progress, 0.0, 1.0);
        if (fraction > 0) {
            painter->setBrush(palette.color(QPalette::Highlight));
            painter->drawRoundedRect(
                QRectF(track.left(), track.top(), track.width() * fraction, kBarHeight),
                kBarHeight / 2.0, kBarHeight / 2.0);
        }
        y += kBarHeight + 2;
        const QFontMetrics detailMetrics(fonts.detail);
        const QRect detail(line.left(), y, line.width(), detailMetrics.height());
        painter->setFont(fonts.detail);
        painter->setPen(secondary);
        const QString speed = speedText(job);
        const QString eta = etaText(job);
        QString right = eta;
        if (!speed.isEmpty())
            right = eta.isEmpty() ? speed : eta + QStringLiteral("   ") + speed;
        painter->drawText(detail, Qt::AlignRight | Qt::AlignVCenter, right);
        const int leftWidth =
            std::max(0, detail.width() - detailMetrics.horizontalAdvance(right) - kSpacing);
        painter->drawText(QRect(detail.left(), detail.top(), leftWidth, detail.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          detailMetrics.elidedText(byteCountsText(job), Qt::ElideRight, leftWidth));
        y += detailMetrics.height();
    }

    const QString error = errorText(job);
    if (!error.isEmpty()) {
        y += kLineSpacing;
        painter->setFont(fonts.caption);
        painter->setPen(tintColor(StatusTint::Red, palette));
        for (const QString& text : errorLines(error, fonts.caption, line.width())) {
            painter->drawText(QRect(line.left(), y, line.width(), captionMetrics.height()),
                              Qt::AlignLeft | Qt::AlignVCenter, text);
            y += captionMetrics.lineSpacing();
        }
    }
    painter->restore();
}

QSize TransferJobDelegate::sizeHint(const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const
{
    const TransferJob job = jobAt(index);
    const Fonts fonts = fontsFor(option.font);
    int height = kPadding + topLineHeight(fonts) + kPadding;
    if (showsProgressSection(job.status))
        height += kLineSpacing + progressSectionHeight(fonts);
    const QString error = errorText(job);
    if (!error.isEmpty()) {
        const auto lines = errorLines(error, fonts.caption, contentWidth(option)).size();
        height += kLineSpacing + int(lines) * QFontMetrics(fonts.caption).lineSpacing();
    }
    return QSize(std::max(0, option.rect.width()), height);
}

QWidget* TransferJobDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                           const QModelIndex&) const
{
    auto* controls = new TransferRowControls(parent);
    connect(controls, &TransferRowControls::triggered, this, &TransferJobDelegate::actionTriggered);
    return controls;
}

void TransferJobDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* controls = qobject_cast<TransferRowControls*>(editor)) {
        const TransferJob job = jobAt(index);
        controls->setJob(job.id, rowActions(job.status));
    }
}

void TransferJobDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                               const QModelIndex&) const
{
    editor->setGeometry(controlsArea(option));
}

bool TransferJobDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                      const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const TransferJob job = jobAt(index);
    for (const auto& [action, area] : buttonAreas(option, job.status)) {
        if (!area.contains(mouse->position().toPoint()))
            continue;
        if (event->type() == QEvent::MouseButtonRelease)
            emit actionTriggered(job.id, action);
        return true;
    }
    return false;
}

} // namespace qb
