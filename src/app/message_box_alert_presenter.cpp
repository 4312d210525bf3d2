#include "app/message_box_alert_presenter.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace qb {

namespace {

// Makes what an alert says (a path, a command to run) selectable and copyable, with the mouse or,
// after Tab reaches it, with the keyboard. Applied as the box shows: the style it takes while
// being polished sets its own flags.
class TextSelection : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            for (QLabel* label : watched->findChildren<QLabel*>()) {
                if (label->text().isEmpty())
                    continue;
                label->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                               Qt::TextSelectableByKeyboard);
                // A label selectable by keyboard takes focus only from a click otherwise.
                label->setFocusPolicy(Qt::StrongFocus);
            }
        }
        return false;
    }
};

} // namespace

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
    TextSelection selection;
    box.installEventFilter(&selection);
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
