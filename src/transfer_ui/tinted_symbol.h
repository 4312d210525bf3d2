#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

namespace qb {

// A symbol's icon drawn in one colour at `size` device-independent pixels, for the delegate's
// tinted kind and status images. Kept in a small cache: rows draw the same few images over and
// over. A null pixmap when the theme has no icon for the symbol.
QPixmap tintedSymbol(const QString& symbol, int size, const QColor& color, qreal devicePixelRatio);

} // namespace qb
