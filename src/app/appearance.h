#pragma once

#include "app/app_theme.h"

#include <QPalette>

namespace qb {

class AppSettings;

// The palette a theme asks for: the desktop's own for System, a Fusion light or dark palette
// otherwise.
QPalette paletteFor(AppTheme theme, const QPalette& desktopPalette);

// Applies the theme and font scale of `settings` to every window now and whenever they change,
// for as long as `settings` lives.
void followAppearance(AppSettings& settings);

} // namespace qb
