#pragma once

#include <QToolButton>

namespace qb {

class TransferQueueViewModel;
class TransferRingIcon;

// The toolbar's transfer-queue button: the transfer symbol with the ring of the queue's overall
// progress while jobs are active; pressing it asks the main window for the transfer queue.
class TransferQueueButton : public QToolButton
{
    Q_OBJECT

public:
    explicit TransferQueueButton(TransferQueueViewModel& viewModel, QWidget* parent = nullptr);

    TransferRingIcon* ring() const { return m_ring; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void follow();

    TransferQueueViewModel& m_viewModel;
    TransferRingIcon* m_ring;
};

} // namespace qb
