#include "app/message_box_alert_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace qb {

int MessageBoxAlertPresenter::present(const Alert& alert)
{
    QMessageBox box(
        alert.style == Alert::Style::Critical ? QMessageBox::Critical : QMessageBox::Warning,
        alert.title, alert.message, QMessageBox::NoButton, QApplication::activeWindow());
    QList<QPushButton*> buttons;
    for (int i = 0; i < alert.buttons.size(); ++i) {
        auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.append(box.addButton(alert.buttons.at(i), role));
    }
    if (!buttons.isEmpty())
        box.setDefaultButton(buttons.first());
    box.exec();
    return int(buttons.indexOf(static_cast<QPushButton*>(box.clickedButton())));
}

} // namespace qb
