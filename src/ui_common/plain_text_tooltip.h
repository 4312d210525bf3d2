#pragma once

#include <QString>

namespace qb {

// A tooltip that shows `text` character for character: a tooltip guesses rich text, so a name
// from a phone, the network or the file system is escaped and kept on its own lines. Empty text
// gives an empty tooltip (none at all).
QString plainTextToolTip(const QString& text);

} // namespace qb
