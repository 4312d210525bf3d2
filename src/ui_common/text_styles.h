#pragma once

#include <QFont>
#include <QPalette>

class QWidget;

namespace qb {

// Named text styles, sized relative to the application's body font.
enum class TextStyle { Title, Title2, Title3, Headline, Subheadline, Body, Callout, Caption };

QFont textStyleFont(TextStyle style, const QFont& body);
// `base` at a fixed size in device-independent pixels. The views' fixed sizes are pixels on
// screen: as typographic points the desktop's DPI would scale them (84 would draw 112 high).
QFont fixedSizeFont(qreal pixels, QFont base);
// Gives the widget the style, sized from the application's font.
void setTextStyle(QWidget* widget, TextStyle style, bool bold = false);

// Draws the widget's text in the palette's secondary (dimmed) colour.
void setSecondaryColour(QWidget* widget);
// Draws the text of a control that deletes in the destructive colour; disabled, it greys as
// every other control does.
void setDestructiveColour(QWidget* widget);
// The same for a palette a control or menu entry is drawn with.
void applyDestructiveColour(QPalette& palette);

} // namespace qb
