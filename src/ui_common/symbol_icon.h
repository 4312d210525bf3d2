#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QString>

namespace qb {

// Views name their images by the symbol names the models carry ("tray", "folder.fill"); this is
// the one place that turns them into freedesktop icon-theme names.
QString themeIconName(const QString& symbol);

// The icon for a symbol from the desktop's theme, else the fallback theme; a null icon when
// neither has it (callers keep a text or tooltip, so no button is ever blank). Where the theme
// has the symbol's one-colour form, that is drawn in the application palette's text colour (a
// selected row's text colour when selected, the disabled text colour when disabled) and follows
// the palette when it changes (a dark theme chosen in the settings); only a symbol that the
// theme has in full colour alone keeps the theme's colours.
QIcon symbolIcon(const QString& symbol);

// A symbol drawn in one role of the application palette (Highlight is the accent colour,
// PlaceholderText the secondary one), or in one fixed colour; it follows the palette when it
// changes, and a selected or disabled row draws it in that state's text colour. The accent is
// lightened or darkened where needed to stand out from the palette's list background. A null
// icon when no theme has the symbol.
QIcon tintedSymbolIcon(const QString& symbol, QPalette::ColorRole role);
QIcon tintedSymbolIcon(const QString& symbol, const QColor& colour);

// The colour of entries and buttons that delete.
QColor destructiveColour();

// A symbol's icon drawn in one colour at `size` device-independent pixels. Kept in a small
// cache: delegates draw the same few images over and over. A null pixmap when no theme has it.
QPixmap tintedSymbol(const QString& symbol, int size, const QColor& color,
                     qreal devicePixelRatio = 1.0);

// Sets the fallback theme that scripts/install-deps installs. Call once after QApplication.
void installIconThemeFallback();

} // namespace qb
