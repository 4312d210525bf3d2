#pragma once

#include "core/device/device_model.h"

#include <QList>
#include <QSet>
#include <QString>

namespace qb {

// One entry of a context menu of the phone pane's list or grid.
struct FileMenuEntry
{
    enum class Action { Open, Download, Copy, Rename, Delete, NewFolder, Paste, Separator };
    Action action = Action::Separator;
    QString label;
    QString symbol;
    bool destructive = false;

    bool operator==(const FileMenuEntry&) const = default;
};

// The entries of the menus, decided without widgets.
namespace FileListMenu {

// The table's menu for the ids it applies to (the selection when the click fell on a selected
// row, that row alone when on another row, none on empty space); `affected` holds the shown
// items with those ids, in display order. The single-item entries follow the size of the set.
QList<FileMenuEntry> forTable(const QSet<QString>& ids, const QList<FileItem>& affected,
                              bool hasPasteItems);
// A tile's menu: always every entry, for that tile alone.
QList<FileMenuEntry> forTile(const FileItem& item);
// Empty table space and the grid's background.
QList<FileMenuEntry> forBackground(bool hasPasteItems);

} // namespace FileListMenu

} // namespace qb
