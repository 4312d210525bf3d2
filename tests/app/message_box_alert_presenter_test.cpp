#include "app/message_box_alert_presenter.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace qb {
namespace {

// Once the alert is open, notes what it shows and clicks the button with `text`.
void clickWhenOpen(const QString& text, QStringList& shown)
{
    QTimer::singleShot(0, [text, &shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return clickWhenOpen(text, shown); // not open yet
        // Both texts can be selected and copied, by mouse, and by keyboard once Tab reaches them.
        int selectable = 0;
        for (QLabel* label : box->findChildren<QLabel*>()) {
            selectable +=
                (label->text() == box->text() || label->text() == box->informativeText()) &&
                label->textInteractionFlags().testFlags(Qt::TextSelectableByMouse |
                                                        Qt::TextSelectableByKeyboard) &&
                (label->focusPolicy() & Qt::TabFocus);
        }
        shown << box->text() << box->informativeText() << QString::number(box->icon())
              << QString::number(selectable);
        for (QAbstractButton* button : box->buttons())
            shown << button->text();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == text)
                button->click();
        }
    });
}

TEST(MessageBoxAlertPresenterTest, ShowsTheAlertAndReportsTheChosenButton)
{
    MessageBoxAlertPresenter presenter;
    const Alert freeze{Alert::Style::Critical,
                       QStringLiteral("Quillbay is not responding"),
                       QStringLiteral("The app appears to be frozen."),
                       {QStringLiteral("Force Quit"), QStringLiteral("Wait")}};
    QStringList shown;
    clickWhenOpen(QStringLiteral("Wait"), shown);
    EXPECT_EQ(presenter.present(freeze), 1);
    ASSERT_EQ(shown.size(), 6);
    EXPECT_EQ(shown.mid(0, 4), (QStringList{freeze.title, freeze.message,
                                            QString::number(QMessageBox::Critical), "2"}));
    EXPECT_TRUE(shown.contains(QStringLiteral("Force Quit")));

    const Alert mail{Alert::Style::Warning,
                     QStringLiteral("Mail Not Configured"),
                     QStringLiteral("Please configure a mail application."),
                     {QStringLiteral("OK")}};
    shown.clear();
    clickWhenOpen(QStringLiteral("OK"), shown);
    EXPECT_EQ(presenter.present(mail), 0);
    EXPECT_EQ(shown.value(2), QString::number(QMessageBox::Warning));
}

} // namespace
} // namespace qb
