#pragma once

#include <QColor>
#include <QPalette>
#include <QStyledItemDelegate>

namespace qb {

// The colours of a Wi-Fi phone's row: over the list's background (tinted by the accent while the
// row is highlighted), the state symbol in green when the phone is paired and in blue when not,
// and the PIN in blue on a faint blue chip; each made readable on what it is drawn on, so the
// blue is lightened on a dark background and the green darkened on a light one.
struct PeerRowColours
{
    QColor background;
    QColor stateSymbol;
    QColor pinChip;
    QColor pin;
};
PeerRowColours peerRowColours(const QPalette& palette, bool paired, bool highlighted);

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
