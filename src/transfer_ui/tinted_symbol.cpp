#include "transfer_ui/tinted_symbol.h"

#include "documents/symbol_icon.h"

#include <QHash>
#include <QPainter>

namespace qb {

QPixmap tintedSymbol(const QString& symbol, int size, const QColor& color, qreal devicePixelRatio)
{
    static QHash<QString, QPixmap> cache;
    const QString key =
        QStringLiteral("%1|%2|%3|%4").arg(symbol).arg(size).arg(color.rgba()).arg(devicePixelRatio);
    const auto found = cache.constFind(key);
    if (found != cache.constEnd())
        return *found;

    // Tinting keeps only the shape, so the one-colour (symbolic) drawing is wanted: a full-colour
    // icon would turn into a solid blot.
    const QString name = themeIconName(symbol) + QStringLiteral("-symbolic");
    const QIcon icon = QIcon::hasThemeIcon(name) ? QIcon::fromTheme(name) : symbolIcon(symbol);
    QPixmap pixmap;
    if (!icon.isNull()) {
        const QSize pixels = QSize(size, size) * devicePixelRatio;
        QImage image =
            icon.pixmap(pixels).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        image = image.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
        painter.end();
        pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(devicePixelRatio);
    }
    if (cache.size() > 256)
        cache.clear();
    cache.insert(key, pixmap);
    return pixmap;
}

} // namespace qb
