#include "browsing/device_sidebar_delegate.h"

#include "browsing/device_sidebar_model.h"
#include "ui_common/colour_contrast.h"
#include "ui_common/symbol_icon.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>

namespace qb {

namespace {

using Kind = DeviceSidebarModel::Kind;

QFont sized(QFont font, double factor, QFont::Weight weight = QFont::Normal)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

void drawText(QPainter* painter, const QRect& rect, const QString& text, const QFont& font,
              const QColor& colour, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    painter->setFont(font);
    painter->setPen(colour);
    const QString elided = QFontMetrics(font).elidedText(text, Qt::ElideRight, rect.width());
    painter->drawText(rect, int(alignment) | Qt::TextSingleLine, elided);
}

void fillRounded(QPainter* painter, const QRect& rect, QColor colour, double opacity, int radius)
{
    colour.setAlphaF(float(opacity));
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    painter->drawRoundedRect(rect, radius, radius);
}

} // namespace

PeerRowColours peerRowColours(const QPalette& palette, bool paired, bool highlighted)
{
    const QColor blue(0, 122, 255);
    const QColor green(52, 199, 89);
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    PeerRowColours colours;
    colours.background =
        highlighted ? composited(palette.color(QPalette::Active, QPalette::Highlight), 0.18, base)
                    : base;
    colours.stateSymbol = readableOn(paired ? green : blue, colours.background, kSymbolContrast);
    colours.pinChip = composited(blue, 0.15, colours.background);
    colours.pin = readableOn(blue, colours.pinChip, kTextContrast);
    return colours;
}

QSize DeviceSidebarDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
{
    const int line = option.fontMetrics.height();
    switch (DeviceSidebarModel::kindOf(index)) {
    case Kind::Section:
        return {200, line + 12};
    case Kind::Device:
        return {200, 2 * line + 12};
    case Kind::Storage:
        return {200, line + 6};
    case Kind::Peer:
        return {200, index.data(DeviceSidebarModel::PinRole).toString().isEmpty() ? 2 * line + 14
                                                                                  : 3 * line + 26};
    default:
        return {200, line + 10};
    }
}

void DeviceSidebarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = option.palette;
    const bool enabled = option.state & QStyle::State_Enabled;
    const QColor text =
        palette.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Text);
    const QColor secondary = palette.color(QPalette::PlaceholderText);
    const QColor accent = palette.color(QPalette::Highlight);
    const QFont base = option.font;
    const int line = option.fontMetrics.height();
    const QString title = index.data(Qt::DisplayRole).toString();
    const QString subtitle = index.data(DeviceSidebarModel::SubtitleRole).toString();
    const QString symbol = index.data(DeviceSidebarModel::SymbolRole).toString();
    const QIcon icon = symbolIcon(symbol);
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QRect r = option.rect.adjusted(8, 0, -8, 0);

    switch (DeviceSidebarModel::kindOf(index)) {
    case Kind::Section:
        drawText(painter, r.adjusted(0, 6, 0, 0), title, sized(base, 0.85, QFont::Bold), secondary);
        break;
    case Kind::Placeholder:
        // The placeholder's symbol is as secondary as its text.
        painter->drawPixmap(QRect(r.left(), r.center().y() - 8, 16, 16),
                            tintedSymbol(symbol, 16, secondary, ratio));
        drawText(painter, r.adjusted(22, 0, 0, 0), title, sized(base, 0.95), secondary);
        break;
    case Kind::Device: {
        QStyleOptionViewItem panel = option;
        initStyleOption(&panel, index);
        panel.text.clear();
        panel.icon = QIcon();
        QApplication::style()->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter,
                                             option.widget);
        const bool selected = option.state & QStyle::State_Selected;
        const QColor ink = selected ? palette.color(QPalette::HighlightedText) : text;
        icon.paint(painter, QRect(r.left(), r.top() + 6 + (line - 16) / 2, 16, 16), Qt::AlignCenter,
                   selected ? QIcon::Selected : (enabled ? QIcon::Normal : QIcon::Disabled));
        drawText(painter, QRect(r.left() + 22, r.top() + 4, r.width() - 22, line), title,
                 sized(base, 1.0, QFont::Bold), ink);
        drawText(painter, QRect(r.left() + 22, r.top() + 4 + line, r.width() - 22, line), subtitle,
                 sized(base, 0.85), selected ? ink : secondary);
        break;
    }
    case Kind::Storage: {
        const QRect row = r.adjusted(12, 1, 0, -1);
        if (index.data(DeviceSidebarModel::HighlightedRole).toBool())
            fillRounded(painter, row, accent, 0.15, 4);
        icon.paint(painter, QRect(row.left() + 4, row.center().y() - 6, 12, 12));
        const QFont caption2 = sized(base, 0.75);
        const int sizeWidth =
            subtitle.isEmpty() ? 0 : QFontMetrics(caption2).horizontalAdvance(subtitle) + 6;
        drawText(painter, row.adjusted(22, 0, -sizeWidth, 0), title, sized(base, 0.85), text);
        if (!subtitle.isEmpty())
            drawText(painter, QRect(row.right() - sizeWidth, row.top(), sizeWidth, row.height()),
                     subtitle, caption2, secondary, Qt::AlignRight | Qt::AlignVCenter);
        break;
    }
    case Kind::Peer: {
        const QRect row = r.adjusted(0, 2, 0, -2);
        const bool highlighted = index.data(DeviceSidebarModel::HighlightedRole).toBool();
        if (highlighted)
            fillRounded(painter, row, accent, 0.18, 6);
        const QString pin = index.data(DeviceSidebarModel::PinRole).toString();
        const PeerRowColours colours = peerRowColours(palette, pin.isEmpty(), highlighted);
        const QRect inner = row.adjusted(6, 4, -6, -4);
        painter->drawPixmap(QRect(inner.left(), inner.top() + (line - 16) / 2 + 2, 16, 16),
                            tintedSymbol(symbol, 16, colours.stateSymbol, ratio));
        const QRect textBox(inner.left() + 24, inner.top(), inner.width() - 24, line);
        drawText(painter, textBox, title, sized(base, 0.95, QFont::Medium), text);
        drawText(painter, textBox.translated(0, line), subtitle, sized(base, 0.75), secondary);
        if (!pin.isEmpty()) {
            const int top = inner.top() + 2 * line + 6;
            const QFont label = sized(base, 0.75, QFont::DemiBold);
            const int labelWidth = QFontMetrics(label).horizontalAdvance(tr("PIN")) + 2;
            drawText(painter, QRect(inner.left() + 22, top, labelWidth, line + 6), tr("PIN"), label,
                     secondary);
            QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            mono.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() * 0.95
                                                     : mono.pointSizeF());
            mono.setBold(true);
            const QRect chip(inner.left() + 28 + labelWidth, top,
                             QFontMetrics(mono).horizontalAdvance(pin) + 16, line + 6);
            fillRounded(painter, chip, colours.pinChip, 1.0, 6);
            drawText(painter, chip, pin, mono, colours.pin, Qt::AlignCenter);
        }
        break;
    }
    default:
        icon.paint(painter, QRect(r.left(), r.center().y() - 8, 16, 16), Qt::AlignCenter,
                   enabled ? QIcon::Normal : QIcon::Disabled);
        drawText(painter, r.adjusted(22, 0, 0, 0), title, base, text);
        break;
    }
    painter->restore();
}

} // namespace qb
