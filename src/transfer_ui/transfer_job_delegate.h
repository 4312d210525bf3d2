#pragma once

#include "transfer_ui/transfer_job_row.h"

#include <QStyledItemDelegate>
#include <QUuid>

#include <utility>

namespace qb {

// Draws one transfer job per row: kind image and name, kind label, the buttons and the status
// symbol; the progress bar with byte counts, time left and speed while the job runs or is
// paused; the error in up to two red lines. The painted buttons are hit areas; the row under
// the pointer also gets real buttons as its editor (TransferRowControls).
class TransferJobDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit TransferJobDelegate(QObject* parent = nullptr);

    // The row's buttons for a job in `status`, left to right, where they are drawn.
    QList<std::pair<RowAction, QRect>> buttonAreas(const QStyleOptionViewItem& option,
                                                   TransferStatus status) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

signals:
    void actionTriggered(const QUuid& jobId, qb::RowAction action);

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

} // namespace qb
