#pragma once

#include "app/alert_presenter.h"

#include <QList>

namespace qb {

// Records alerts and answers each with `answer`.
class FakeAlertPresenter : public AlertPresenter
{
public:
    int answer = 0;
    QList<Alert> presented;

    int present(const Alert& alert) override
    {
        presented.append(alert);
        return answer;
    }
};

} // namespace qb
