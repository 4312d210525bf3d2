#pragma once

#include <QColor>

namespace qb {

// Contrast as accessibility guidelines measure it: the relative luminance of an sRGB colour
// (0 for black, 1 for white) and the ratio (L1 + 0.05) / (L2 + 0.05) of the lighter to the
// darker of two colours, from 1 (the same) to 21 (black on white). Alpha is ignored.
double relativeLuminance(const QColor& colour);
double contrastRatio(const QColor& a, const QColor& b);

// Symbols and other marks need 3:1 against what they are drawn on; running text 4.5:1.
inline constexpr double kSymbolContrast = 3.0;
inline constexpr double kTextContrast = 4.5;

// `colour` as it looks drawn at `opacity` over the opaque `background`.
QColor composited(const QColor& colour, double opacity, const QColor& background);

// `colour` itself when it stands out from `background` by at least `minimum`; otherwise the
// least mix of it with white (on a dark background) or black (on a light one) that does, so
// an accent keeps its hue as far as it can. Alpha is kept.
QColor readableOn(const QColor& colour, const QColor& background, double minimum);

} // namespace qb
