#include "transfer_ui/transfer_queue_sheet.h"

#include "core/transfer/transfer_queue_view_model.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

TransferQueueSheet::TransferQueueSheet(TransferQueueViewModel& viewModel, QWidget* parent)
    : QDialog(parent), m_viewModel(viewModel)
{
    setWindowTitle(tr("Transfers"));
    setWindowModality(Qt::WindowModal);
    resize(520, 440);
    auto* layout = new QVBoxLayout(this);
    auto* done = new QPushButton(tr("Done"), this);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    layout->addStretch(1);
    layout->addWidget(done, 0, Qt::AlignRight);
}

} // namespace qb
