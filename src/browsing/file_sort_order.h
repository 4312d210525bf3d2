#pragma once

#include "core/device/device_model.h"

#include <QList>
#include <QString>

#include <optional>

namespace qb {

// The orders of a phone listing, offered by the pane's sort picker in this order.
enum class FileSortOrder {
    NameAscending,
    NameDescending,
    SizeAscending,
    SizeDescending,
    DateAscending,
    DateDescending,
    Type
};

QString toText(FileSortOrder order); // "Name ↑" ... "Type"
std::optional<FileSortOrder> fileSortOrderFromText(const QString& text);
QList<FileSortOrder> allFileSortOrders();

// Whether `a` comes before `b`: folders first in every order, then by the order's key; a missing
// size counts as 0 and a missing date as the distant past. Equal keys are not ordered.
bool areInIncreasingOrder(FileSortOrder order, const FileItem& a, const FileItem& b);

// Stable sort by `order`: items whose keys are equal keep their relative order. Safe on any
// thread; keys are computed once per item, so large folders sort in O(n log n) comparisons of
// ready-made keys.
void sortItems(QList<FileItem>& items, FileSortOrder order);

// The lower-cased text after the last dot of a name; empty when it has none.
QString pathExtension(const QString& name);

// How the phone pane presents a folder.
enum class ViewMode { List, Grid };
QString toText(ViewMode mode); // "list", "grid"
std::optional<ViewMode> viewModeFromText(const QString& text);

} // namespace qb
