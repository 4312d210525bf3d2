#pragma once

#include <QIcon>
#include <QString>

namespace qb {

// Views name their images by the symbol names the models carry ("tray", "folder.fill"); this is
// the one place that turns them into freedesktop icon-theme names.
QString themeIconName(const QString& symbol);

// The icon for a symbol from the desktop's theme, else the fallback theme; a null icon when
// neither has it (callers keep a text or tooltip, so no button is ever blank).
QIcon symbolIcon(const QString& symbol);

// Sets the fallback theme that scripts/install-deps installs. Call once after QApplication.
void installIconThemeFallback();

} // namespace qb
