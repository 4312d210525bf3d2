#include "wifi_ui/computer_to_phone_animation.h"

#include "ui_common/symbol_icon.h"
#include "wifi_ui/wifi_formatters.h"
#include "wifi_ui/wifi_ui_style.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace qb {

using namespace wifiui;

ComputerToPhoneAnimation::ComputerToPhoneAnimation(QWidget* parent)
    : QWidget(parent), m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
    setMinimumHeight(110);
    setAccessibleName(tr("Computer to phone"));
}

void ComputerToPhoneAnimation::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    update();
}

void ComputerToPhoneAnimation::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal w = width();
    const qreal h = height();
    const qreal length = std::max(w - 128, 0.0);

    paintBadge(painter, QPointF(32, h / 2), QStringLiteral("laptopcomputer"), tr("Computer"));
    paintBadge(painter, QPointF(w - 32, h / 2), QStringLiteral("iphone.gen3"), tr("Phone"));

    // One path of 4-long dashes with 6-long gaps, stroked once; the last dash cut at the edge.
    QPainterPath dashes;
    for (qreal x = 0; x < length; x += 10) {
        dashes.moveTo(64 + x, h / 2);
        dashes.lineTo(64 + std::min(x + 4, length), h / 2);
    }
    painter.setPen(
        QPen(withAlpha(palette().color(QPalette::Highlight), 0.45), 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawPath(dashes);

    if (!m_active)
        return;
    const double phase = animationPhase(m_clock());
    for (int index = 0; index < 3; ++index) {
        const PacketState packet = packetState(index, phase, w, h);
        paintPacket(painter, packet.centre, packet.opacity);
    }
}

void ComputerToPhoneAnimation::paintBadge(QPainter& painter, const QPointF& centre,
                                          const QString& symbol, const QString& label)
{
    const QFont font = textFont(TextStyle::Caption2);
    const int labelHeight = QFontMetrics(font).height();
    const qreal top = centre.y() - (56 + 6 + labelHeight) / 2.0;
    const QRectF tile(centre.x() - 28, top, 56, 56);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(tile, 14, 14);
    painter.setPen(QPen(withAlpha(palette().color(QPalette::Highlight), 0.4), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), 13.5, 13.5);
    const QPixmap icon = tintedSymbol(symbol, 26, systemBlue(), devicePixelRatioF());
    if (!icon.isNull())
        painter.drawPixmap(QRectF(tile.center() - QPointF(13, 13), QSizeF(26, 26)), icon,
                           icon.rect());
    painter.setFont(font);
    painter.setPen(secondaryText(palette().color(QPalette::WindowText)));
    painter.drawText(QRectF(centre.x() - 32, tile.bottom() + 6, 64, labelHeight), Qt::AlignCenter,
                     label);
}

void ComputerToPhoneAnimation::paintPacket(QPainter& painter, const QPointF& centre, qreal opacity)
{
    painter.save();
    painter.setOpacity(opacity);
    const QRectF tile(centre - QPointF(13, 13), QSizeF(26, 26));
    // A soft glow in place of a blurred shadow: a few widening, fading outlines.
    painter.setBrush(Qt::NoBrush);
    for (int ring = 1; ring <= 3; ++ring) {
        painter.setPen(QPen(withAlpha(systemBlue(), 0.4 / (ring + 1)), 2));
        painter.drawRoundedRect(tile.adjusted(-ring, -ring, ring, ring), 6 + ring, 6 + ring);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(accentGradient(tile));
    painter.drawRoundedRect(tile, 6, 6);
    const QPixmap doc =
        tintedSymbol(QStringLiteral("doc.fill"), 12, Qt::white, devicePixelRatioF());
    if (!doc.isNull())
        painter.drawPixmap(QRectF(centre - QPointF(6, 6), QSizeF(12, 12)), doc, doc.rect());
    painter.restore();
}

} // namespace qb
