#pragma once

#include "browsing/drop_decisions.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QMimeData;
class QWidget;

namespace qb {

class TransferQueueViewModel;

// Queues the jobs of a drop plan, asks for the transfer queue as often as the plan says, and shows
// the refused items' messages in one window-modal "Error" alert over `alertParent`.
void applyDropPlan(const DropPlan& plan, TransferQueueViewModel& transfers, QWidget* alertParent);

// Takes drops on the phone pane's file area: computer files become uploads into the folder on
// screen, phone items moves or copies. The target is asked for at the moment of the drop, so a
// plan finishing later still goes where the user dropped.
class PhonePaneDropHandler : public QObject
{
    Q_OBJECT

public:
    using TargetProvider = std::function<PhoneDropTarget()>;

    // Installs itself on `area` (for an item view, pass its viewport) and makes it accept drops.
    PhonePaneDropHandler(QWidget* area, TransferQueueViewModel& transfers, TargetProvider target);

    // What a drop on the area does; true when the drop is taken. The plan is made off the GUI
    // thread and applied when it is ready.
    bool handleDrop(const QMimeData& data, Qt::KeyboardModifiers modifiers);

signals:
    // A drop's plan has been applied (for tests and for whoever waits on it).
    void dropApplied(const qb::DropPlan& plan);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_area;
    TransferQueueViewModel& m_transfers;
    TargetProvider m_target;
    bool m_accepting = false; // the answer given at the drag's enter
};

} // namespace qb
