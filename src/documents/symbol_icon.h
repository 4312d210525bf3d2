#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace qb {

// Views name their images by the symbol names the models carry ("tray", "folder.fill"); this is
// the one place that turns them into freedesktop icon-theme names.
QString themeIconName(const QString& symbol);

// The icon for a symbol from the desktop's theme, else the fallback theme; a null icon when
// neither has it (callers keep a text or tooltip, so no button is ever blank). A symbol that the
// theme has only in one colour is drawn in the application palette's text colour, and follows
// the palette when it changes (a dark theme chosen in the settings).
QIcon symbolIcon(const QString& symbol);

// A symbol's icon drawn in one colour at `size` device-independent pixels. Kept in a small
// cache: delegates draw the same few images over and over. A null pixmap when no theme has it.
QPixmap tintedSymbol(const QString& symbol, int size, const QColor& color,
                     qreal devicePixelRatio = 1.0);

// Sets the fallback theme that scripts/install-deps installs. Call once after QApplication.
void installIconThemeFallback();

} // namespace qb
