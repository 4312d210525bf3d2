#include "transfer_ui/transfer_queue_sheet.h"

#include "core/transfer/transfer_queue_view_model.h"
#include "transfer_ui/transfer_job_delegate.h"
#include "transfer_ui/transfer_job_list_model.h"
#include "transfer_ui/transfer_job_list_view.h"
#include "ui_common/empty_state_view.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace qb {

namespace {

constexpr int kProgressSteps = 1000;

} // namespace

TransferQueueSheet::TransferQueueSheet(TransferQueueViewModel& viewModel, QWidget* parent)
    : QDialog(parent), m_viewModel(viewModel), m_model(new TransferJobListModel(this)),
      m_overall(new QProgressBar(this)), m_clearCompleted(new QPushButton(tr("Clear Completed"))),
      m_body(new QStackedWidget(this)),
      m_empty(new EmptyStateView(QStringLiteral("tray"), tr("No Transfers"),
                                 tr("Download or upload files to see progress here."))),
      m_list(new TransferJobListView)
{
    setWindowTitle(tr("Transfer Queue"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(520, 440);

    auto* title = new QLabel(tr("Transfer Queue"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() > 0 ? titleFont.pointSizeF() * 1.4 : 14);
    titleFont.setBold(true);
    title->setFont(titleFont);

    m_overall->setRange(0, kProgressSteps);
    m_overall->setTextVisible(false);
    m_overall->setFixedWidth(80);
    m_overall->setAccessibleName(tr("Overall Progress"));

    m_clearCompleted->setFlat(true);
    m_clearCompleted->setAutoDefault(false);
    connect(m_clearCompleted, &QPushButton::clicked, this,
            [this] { m_viewModel.clearCompleted(); });
    auto* done = new QPushButton(tr("Done"));
    // Enter must not close the sheet: the button has no keyboard shortcut.
    done->setAutoDefault(false);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 12, 12, 12);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(m_overall);
    header->addWidget(m_clearCompleted);
    header->addWidget(done);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    m_list->setModel(m_model);
    m_list->setFrameShape(QFrame::NoFrame);
    connect(m_list->jobDelegate(), &TransferJobDelegate::actionTriggered, this,
            [this](const QUuid& id, RowAction action) {
                switch (action) {
                case RowAction::Pause:
                    m_viewModel.pause(id);
                    break;
                case RowAction::Resume:
                    m_viewModel.resume(id);
                    break;
                case RowAction::Retry:
                    m_viewModel.retry(id);
                    break;
                case RowAction::Cancel:
                    m_viewModel.cancel(id);
                    break;
                }
            });
    m_body->addWidget(m_empty);
    m_body->addWidget(m_list);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(divider);
    layout->addWidget(m_body, 1);

    connect(&m_viewModel, &TransferQueueViewModel::jobsChanged, this, &TransferQueueSheet::refresh);
    refresh();
}

void TransferQueueSheet::refresh()
{
    const QList<TransferJob>& jobs = m_viewModel.jobs();
    m_model->setJobs(jobs);
    bool anyActive = false;
    bool anyFinished = false;
    for (const TransferJob& job : jobs) {
        (isFinished(job.status) ? anyFinished : anyActive) = true;
        if (anyActive && anyFinished)
            break;
    }
    m_overall->setVisible(anyActive);
    if (anyActive) {
        const double progress = m_viewModel.overallProgress();
        const double clamped = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
        m_overall->setValue(int(std::lround(clamped * kProgressSteps)));
    }
    m_clearCompleted->setEnabled(anyFinished);
    m_body->setCurrentWidget(jobs.isEmpty() ? static_cast<QWidget*>(m_empty) : m_list);
}

} // namespace qb
