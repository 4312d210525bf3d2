#include "transfer_ui/transfer_queue_button.h"

#include "core/transfer/transfer_queue_view_model.h"
#include "transfer_ui/transfer_ring_icon.h"
#include "ui_common/command_bus.h"

#include <QStyleOptionToolButton>
#include <QStylePainter>

#include <algorithm>

namespace qb {

TransferQueueButton::TransferQueueButton(TransferQueueViewModel& viewModel, QWidget* parent)
    : QToolButton(parent), m_viewModel(viewModel), m_ring(new TransferRingIcon(0, false, this))
{
    // The ring draws the image; the button keeps its frame, focus and clicks.
    m_ring->setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setText(tr("Transfer Queue"));
    setToolTip(tr("Transfer Queue (Ctrl+Shift+T)"));
    setAccessibleName(tr("Transfer Queue"));
    connect(this, &QToolButton::clicked, this,
            [] { CommandBus::shared().post(Notifications::showTransferQueue); });
    connect(&m_viewModel, &TransferQueueViewModel::jobsChanged, this, &TransferQueueButton::follow);
    follow();
}

QSize TransferQueueButton::sizeHint() const
{
    return m_ring->sizeHint() + QSize(6, 6);
}

void TransferQueueButton::paintEvent(QPaintEvent*)
{
    // Only the frame: the ring draws the image, and the text is for assistive technology.
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
}

void TransferQueueButton::resizeEvent(QResizeEvent* event)
{
    QToolButton::resizeEvent(event);
    m_ring->move((width() - m_ring->width()) / 2, (height() - m_ring->height()) / 2);
}

void TransferQueueButton::follow()
{
    const QList<TransferJob>& jobs = m_viewModel.jobs();
    const bool active = std::any_of(jobs.begin(), jobs.end(),
                                    [](const TransferJob& job) { return !isFinished(job.status); });
    m_ring->setProgress(m_viewModel.overallProgress());
    m_ring->setActive(active);
}

} // namespace qb
