#pragma once

#include <QString>

class QWidget;

namespace qb {

// A tooltip that shows `text` character for character: a tooltip guesses rich text, so a name
// from a phone, the network or the file system is escaped and kept on its own lines. Empty text
// gives an empty tooltip (none at all).
QString plainTextToolTip(const QString& text);

// Gives `widget` that tooltip, and `text` itself as its accessible description: a widget
// without a description of its own is described by its tooltip, and a screen reader would
// speak the tooltip's markup.
void setPlainTextToolTip(QWidget* widget, const QString& text);

} // namespace qb
