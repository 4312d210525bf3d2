#pragma once

#include <QDialog>

namespace qb {

class TransferQueueViewModel;

// The transfer queue: one row per job with its progress and controls.
class TransferQueueSheet : public QDialog
{
    Q_OBJECT

public:
    explicit TransferQueueSheet(TransferQueueViewModel& viewModel, QWidget* parent = nullptr);

private:
    TransferQueueViewModel& m_viewModel;
};

} // namespace qb
