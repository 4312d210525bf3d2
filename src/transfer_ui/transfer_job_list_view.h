#pragma once

#include <QTreeView>

namespace qb {

class TransferJobDelegate;

// The sheet's job list: rows of varying height drawn by TransferJobDelegate, no selection, no
// header. The row under the pointer becomes current and carries the delegate's real buttons.
class TransferJobListView : public QTreeView
{
    Q_OBJECT

public:
    explicit TransferJobListView(QWidget* parent = nullptr);

    TransferJobDelegate* jobDelegate() const { return m_delegate; }

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = {}) override;

private:
    TransferJobDelegate* m_delegate;
};

} // namespace qb
