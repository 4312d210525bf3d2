#pragma once

#include <QDialog>

class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace qb {

class EmptyStateView;
class TransferJobListModel;
class TransferJobListView;
class TransferQueueViewModel;

// The transfer queue: one row per job with its progress and controls, an overall progress bar
// while jobs are active, "Clear Completed" and "Done". It only reads the view model and asks it
// for changes; closing it leaves the queue as it is.
class TransferQueueSheet : public QDialog
{
    Q_OBJECT

public:
    explicit TransferQueueSheet(TransferQueueViewModel& viewModel, QWidget* parent = nullptr);

    TransferJobListModel* jobModel() const { return m_model; }
    TransferJobListView* jobList() const { return m_list; }
    QProgressBar* overallProgressBar() const { return m_overall; }
    QPushButton* clearCompletedButton() const { return m_clearCompleted; }
    EmptyStateView* emptyState() const { return m_empty; }

private:
    void refresh();

    TransferQueueViewModel& m_viewModel;
    TransferJobListModel* m_model;
    QProgressBar* m_overall;
    QPushButton* m_clearCompleted;
    QStackedWidget* m_body;
    EmptyStateView* m_empty;
    TransferJobListView* m_list;
};

} // namespace qb
