#include "transfer_ui/transfer_queue_button.h"

#include "documents/command_bus.h"
#include "documents/symbol_icon.h"

namespace qb {

TransferQueueButton::TransferQueueButton(TransferQueueViewModel& viewModel, QWidget* parent)
    : QToolButton(parent), m_viewModel(viewModel)
{
    setText(tr("Transfers"));
    setToolTip(tr("Show Transfer Queue"));
    setAccessibleName(tr("Show Transfer Queue"));
    setIcon(symbolIcon(QStringLiteral("arrow.up.arrow.down.circle")));
    connect(this, &QToolButton::clicked, this,
            [] { CommandBus::shared().post(Notifications::showTransferQueue); });
}

} // namespace qb
