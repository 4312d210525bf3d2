#include "wifi_ui/wifi_ui_style.h"

#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHash>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

namespace qb::wifiui {

QFont textFont(TextStyle style, QFont::Weight weight)
{
    // The shared text styles; these views draw Caption2 as Caption and a headline in bold.
    qb::TextStyle shared = qb::TextStyle::Body;
    switch (style) {
    case TextStyle::Title2:
        shared = qb::TextStyle::Title2;
        break;
    case TextStyle::Title3:
        shared = qb::TextStyle::Title3;
        break;
    case TextStyle::Headline:
        weight = std::max(weight, QFont::Bold);
        break;
    case TextStyle::Body:
        break;
    case TextStyle::Callout:
        shared = qb::TextStyle::Callout;
        break;
    case TextStyle::Caption:
    case TextStyle::Caption2:
        shared = qb::TextStyle::Caption;
        break;
    }
    QFont font = textStyleFont(shared, QApplication::font());
    font.setWeight(weight);
    return font;
}

QFont sizedFont(qreal pixels, QFont::Weight weight, bool monospaced)
{
    QFont font =
        fixedSizeFont(pixels, monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                                         : QApplication::font());
    font.setWeight(weight);
    return font;
}

QColor systemBlue()
{
    return QColor(0, 122, 255);
}

QColor systemGreen()
{
    return QColor(52, 199, 89);
}

QColor systemOrange()
{
    return QColor(255, 149, 0);
}

QColor systemRed()
{
    return destructiveColour();
}

QColor systemGray()
{
    return QColor(142, 142, 147);
}

QColor secondaryText(const QColor& text)
{
    return withAlpha(text, 0.6);
}

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

QLinearGradient accentGradient(const QRectF& rect)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
    gradient.setColorAt(0, systemBlue());
    gradient.setColorAt(1, QColor::fromRgbF(0, 0.78f, 1.0f, 1));
    return gradient;
}

QIcon fileIcon(const QString& fileName)
{
    static QHash<QString, QIcon> cache;
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    const auto found = cache.constFind(type.name());
    if (found != cache.constEnd())
        return *found;
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    cache.insert(type.name(), icon);
    return icon;
}

void paintPhoneAvatar(QPainter& painter, const QRectF& circle, int iconSize, qreal pixelRatio)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accentGradient(circle));
    painter.drawEllipse(circle);
    const QPixmap phone =
        tintedSymbol(QStringLiteral("iphone.gen3"), iconSize, Qt::white, pixelRatio);
    if (!phone.isNull()) {
        const QSizeF size = QSizeF(phone.size()) / phone.devicePixelRatio();
        painter.drawPixmap(QRectF(circle.center() - QPointF(size.width(), size.height()) / 2, size),
                           phone, phone.rect());
    }
    painter.restore();
}

void paintDirectionBadge(QPainter& painter, const QRectF& disc, bool received,
                         const QColor& background)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawEllipse(disc);
    const QRectF inner = disc.adjusted(1, 1, -1, -1);
    painter.setBrush(received ? systemGreen() : systemOrange());
    painter.drawEllipse(inner);
    // A diagonal arrow: down-left into the computer, up-right out of it.
    const qreal d = inner.width() * 0.22;
    const QPointF c = inner.center();
    const QPointF from = received ? c + QPointF(d, -d) : c + QPointF(-d, d);
    const QPointF to = received ? c + QPointF(-d, d) : c + QPointF(d, -d);
    QPen pen(Qt::white, std::max<qreal>(1.5, inner.width() / 9), Qt::SolidLine, Qt::RoundCap,
             Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(from, to);
    QPainterPath head;
    const qreal h = d * 1.1;
    if (received) {
        head.moveTo(to + QPointF(h, 0));
        head.lineTo(to);
        head.lineTo(to + QPointF(0, -h));
    } else {
        head.moveTo(to + QPointF(-h, 0));
        head.lineTo(to);
        head.lineTo(to + QPointF(0, h));
    }
    painter.drawPath(head);
    painter.restore();
}

void paintStatusDisc(QPainter& painter, const QRectF& disc, bool delivered)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(delivered ? systemGreen() : systemRed());
    painter.drawEllipse(disc);
    const qreal unit = disc.width() / 16;
    painter.setPen(QPen(Qt::white, 1.8 * unit, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF c = disc.center();
    if (delivered) {
        painter.drawPolyline(QPolygonF{c + QPointF(-3.5, 0) * unit, c + QPointF(-1, 2.8) * unit,
                                       c + QPointF(3.8, -2.8) * unit});
    } else {
        painter.drawLine(c + QPointF(-3, -3) * unit, c + QPointF(3, 3) * unit);
        painter.drawLine(c + QPointF(-3, 3) * unit, c + QPointF(3, -3) * unit);
    }
    painter.restore();
}

} // namespace qb::wifiui
