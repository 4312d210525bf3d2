#pragma once

#include "core/device/device_model.h"

#include <QString>

namespace qb {

// Cell texts of the phone pane's table; all shown as plain text.
namespace FileItemFormat {

// "—" for a folder or an item without a size; else the size in decimal units.
QString sizeText(const FileItem& item);
// "—" without a date; else the date (medium) and time (short) in the user's locale and zone.
QString dateText(const FileItem& item);
// "Folder" for a folder; else the name's extension in capitals (empty without one).
QString kindText(const FileItem& item);

} // namespace FileItemFormat

} // namespace qb
