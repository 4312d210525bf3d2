#pragma once

#include "app/alert_presenter.h"

namespace qb {

// Alerts as application-modal QMessageBox dialogs.
class MessageBoxAlertPresenter : public AlertPresenter
{
public:
    int present(const Alert& alert) override;
};

} // namespace qb
