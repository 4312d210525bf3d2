#pragma once

#include "transfer_ui/transfer_job_row.h"

#include <QUuid>
#include <QWidget>

class QToolButton;

namespace qb {

// Real buttons over the painted ones of the row under the pointer (or the current row), so that
// the row's pause, resume, retry and cancel can be reached by keyboard and named to assistive
// technology. Only one such editor is open at a time.
class TransferRowControls : public QWidget
{
    Q_OBJECT

public:
    static constexpr int buttonSize = 20;
    static constexpr int spacing = 4;

    explicit TransferRowControls(QWidget* parent = nullptr);

    // Shows the buttons for `actions` (left to right), right-aligned.
    void setJob(const QUuid& jobId, const QList<RowAction>& actions);
    QUuid jobId() const { return m_jobId; }

signals:
    void triggered(const QUuid& jobId, qb::RowAction action);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QUuid m_jobId;
    QList<RowAction> m_actions;
    QList<QToolButton*> m_buttons;
};

} // namespace qb
