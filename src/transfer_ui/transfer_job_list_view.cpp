#include "transfer_ui/transfer_job_list_view.h"

#include "transfer_ui/transfer_job_delegate.h"
#include "transfer_ui/transfer_job_list_model.h"

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

void TransferJobListView::setModel(QAbstractItemModel* model)
{
    if (auto* previous = qobject_cast<TransferJobListModel*>(this->model()))
        disconnect(previous, &TransferJobListModel::rowAnnounced, this, nullptr);
    QTreeView::setModel(model);
    if (auto* jobs = qobject_cast<TransferJobListModel*>(model))
        connect(jobs, &TransferJobListModel::rowAnnounced, this, &TransferJobListView::announceRow);
}

void TransferJobListView::announceRow(int row)
{
    // Building interfaces for rows nobody hears is not worth it with thousands of rows.
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* cell = rowInterface(row);
    if (cell == nullptr)
        return;
    QAccessibleEvent name(cell, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&name);
    QAccessibleEvent description(cell, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&description);
}

QAccessibleInterface* TransferJobListView::rowInterface(int row)
{
    const QUuid job = model()->index(row, 0).data(TransferJobListModel::IdRole).toUuid();
    // An id of a row that left may since name another interface: it must still be this row's.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(this);
    const auto isRow = [list, row](QAccessibleInterface* cell) {
        return cell != nullptr && cell->isValid() && cell->parent() == list &&
               cell->tableCellInterface() != nullptr &&
               cell->tableCellInterface()->rowIndex() == row;
    };
    if (QAccessibleInterface* known = QAccessible::accessibleInterface(m_rowInterfaces.value(job));
        isRow(known))
        return known;
    QAccessibleInterface* cell = list != nullptr && list->tableInterface() != nullptr
                                     ? list->tableInterface()->cellAt(row, 0)
                                     : nullptr;
    if (!isRow(cell))
        return nullptr;
    if (m_rowInterfaces.size() > 2 * model()->rowCount() + 64) {
        // Forget the rows of jobs that left the queue.
        m_rowInterfaces.removeIf([](const auto& entry) {
            QAccessibleInterface* old = QAccessible::accessibleInterface(entry.value());
            return old == nullptr || !old->isValid();
        });
    }
    m_rowInterfaces.insert(job, QAccessible::uniqueId(cell));
    return cell;
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
