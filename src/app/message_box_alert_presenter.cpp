#include "app/message_box_alert_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace qb {

int MessageBoxAlertPresenter::present(const Alert& alert)
{
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(alert.style == Alert::Style::Critical ? QMessageBox::Critical
                                                      : QMessageBox::Warning);
    // The title is the headline: many window managers show a dialog's window title small or
    // not at all.
    box.setTextFormat(Qt::PlainText); // exception texts may hold angle brackets
    box.setWindowTitle(alert.title);
    box.setText(alert.title);
    box.setInformativeText(alert.message);
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
