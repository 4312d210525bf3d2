#pragma once

#include <QAccessible>
#include <QHash>
#include <QTreeView>
#include <QUuid>

namespace qb {

class TransferJobDelegate;

// The sheet's job list: rows of varying height drawn by TransferJobDelegate, no selection, no
// header. The row under the pointer becomes current and carries the delegate's real buttons.
// Rows that a TransferJobListModel announces are told to assistive technology.
class TransferJobListView : public QTreeView
{
    Q_OBJECT

public:
    explicit TransferJobListView(QWidget* parent = nullptr);

    TransferJobDelegate* jobDelegate() const { return m_delegate; }
    void setModel(QAbstractItemModel* model) override;

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = {}) override;

private:
    void announceRow(int row);
    QAccessibleInterface* rowInterface(int row);

    TransferJobDelegate* m_delegate;
    // The accessible interface of each job's row, made once: Qt 6.4 makes a new one each time
    // it is asked for a row's, and keeps every one as long as the view.
    QHash<QUuid, QAccessible::Id> m_rowInterfaces;
};

} // namespace qb
