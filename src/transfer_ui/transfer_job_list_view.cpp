#include "transfer_ui/transfer_job_list_view.h"

#include "transfer_ui/transfer_job_delegate.h"

namespace qb {

TransferJobListView::TransferJobListView(QWidget* parent)
    : QTreeView(parent), m_delegate(new TransferJobDelegate(this))
{
    setItemDelegate(m_delegate);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    setAccessibleName(tr("Transfers"));
    connect(this, &QAbstractItemView::entered, this,
            [this](const QModelIndex& index) { setCurrentIndex(index); });
}

void TransferJobListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTreeView::currentChanged(current, previous);
    if (previous.isValid() && isPersistentEditorOpen(previous))
        closePersistentEditor(previous);
    if (current.isValid())
        openPersistentEditor(current);
}

void TransferJobListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                      const QList<int>& roles)
{
    QTreeView::dataChanged(topLeft, bottomRight, roles);
    // A row that grew or shrank moves the rows below it, and with them the open controls.
    updateEditorGeometries();
}

} // namespace qb
