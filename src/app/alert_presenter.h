#pragma once

#include <QString>
#include <QStringList>

namespace qb {

// The content of one modal alert.
struct Alert
{
    enum class Style { Warning, Critical };

    Style style = Style::Warning;
    QString title;
    QString message;
    QStringList buttons; // first is the default

    bool operator==(const Alert&) const = default;
};

// Shows modal alerts. Called on the GUI thread only; tests substitute a recorder.
class AlertPresenter
{
public:
    virtual ~AlertPresenter() = default;

    // Returns when the user closes the alert: the index of the chosen button, or -1 when it was
    // closed without one.
    virtual int present(const Alert& alert) = 0;
};

} // namespace qb
