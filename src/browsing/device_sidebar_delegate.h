#pragma once

#include <QStyledItemDelegate>

namespace qb {

// Draws the sidebar's rows by kind: section titles, placeholders, a USB phone with its connection
// type, its storages with free space, a Wi-Fi phone with its state and (while unpaired) its PIN,
// and the two actions. All texts are drawn as plain text, elided to one line.
class DeviceSidebarDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace qb
