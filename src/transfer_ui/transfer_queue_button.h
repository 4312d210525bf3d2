#pragma once

#include <QToolButton>

namespace qb {

class TransferQueueViewModel;

// The toolbar's transfer-queue button: shows the overall progress and asks the main window for
// the transfer queue.
class TransferQueueButton : public QToolButton
{
    Q_OBJECT

public:
    explicit TransferQueueButton(TransferQueueViewModel& viewModel, QWidget* parent = nullptr);

private:
    TransferQueueViewModel& m_viewModel;
};

} // namespace qb
