#include "app/message_box_alert_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace qb {
namespace {

// Clicks the button with `text` in the alert once it is open, noting what the alert showed.
struct AlertClicker
{
    explicit AlertClicker(QString buttonText) : text(std::move(buttonText)) {}

    QString text;
    QString shownTitle;
    QString shownMessage;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QStringList shownButtons;

    void arm()
    {
        QTimer::singleShot(0, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                arm(); // not open yet
                return;
            }
            shownTitle = box->text();
            shownMessage = box->informativeText();
            shownIcon = box->icon();
            for (QAbstractButton* button : box->buttons())
                shownButtons.append(button->text());
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == text)
                    button->click();
            }
        });
    }
};

TEST(MessageBoxAlertPresenterTest, ShowsTheAlertAndReportsTheChosenButton)
{
    MessageBoxAlertPresenter presenter;
    const Alert freeze{Alert::Style::Critical,
                       QStringLiteral("Quillbay is not responding"),
                       QStringLiteral("The app appears to be frozen."),
                       {QStringLiteral("Force Quit"), QStringLiteral("Wait")}};
    AlertClicker wait(QStringLiteral("Wait"));
    wait.arm();
    EXPECT_EQ(presenter.present(freeze), 1);
    EXPECT_EQ(wait.shownTitle, freeze.title);
    EXPECT_EQ(wait.shownMessage, freeze.message);
    EXPECT_EQ(wait.shownIcon, QMessageBox::Critical);
    EXPECT_EQ(wait.shownButtons.size(), 2);
    EXPECT_TRUE(wait.shownButtons.contains(QStringLiteral("Force Quit")));

    const Alert mail{Alert::Style::Warning,
                     QStringLiteral("Mail Not Configured"),
                     QStringLiteral("Please configure a mail application."),
                     {QStringLiteral("OK")}};
    AlertClicker ok(QStringLiteral("OK"));
    ok.arm();
    EXPECT_EQ(presenter.present(mail), 0);
    EXPECT_EQ(ok.shownIcon, QMessageBox::Warning);
}

} // namespace
} // namespace qb
