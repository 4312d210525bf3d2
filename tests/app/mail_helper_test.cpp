#include "app/mail_helper.h"

#include "app/fake_alert_presenter.h"
#include "platform/scripted_process_runner.h"
#include "support/test_support.h"

#include <QApplication>

#include <QSignalSpy>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace qb {
namespace {

const auto* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new test::ApplicationEnvironment<QApplication>);

const QString feedbackBody = QStringLiteral("Name:\nPhone Model:\nMessage:\n");

Alert expectedMailNotConfigured()
{
    return {Alert::Style::Warning,
            QStringLiteral("Mail Not Configured"),
            QStringLiteral("Please configure a mail application to send this report, or email us "
                           "directly at support@halvorin.com."),
            {QStringLiteral("OK")}};
}

TEST(MailHelperTest, MailtoLinkEncodesSubjectAndBodyWhole)
{
    const QUrl url = MailHelper::mailtoUrl(MailHelper::supportAddress(),
                                           QStringLiteral("Quillbay Feedback"), feedbackBody);
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.toEncoded(), QByteArray("mailto:support@halvorin.com?subject=Quillbay%20Feedback"
                                          "&body=Name%3A%0APhone%20Model%3A%0AMessage%3A%0A"));
    // Delimiters stay inside their value.
    const QUrl tricky = MailHelper::mailtoUrl(
        QStringLiteral("a@b.example"), QStringLiteral("Q&A = 1+1 #2"), QStringLiteral("50% ü"));
    const QUrlQuery query(tricky);
    EXPECT_EQ(query.queryItems(QUrl::FullyDecoded).size(), 2);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              QStringLiteral("Q&A = 1+1 #2"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
              QStringLiteral("50% ü"));
    EXPECT_FALSE(tricky.toEncoded().contains('+'));
}

TEST(MailHelperTest, ComposeMailHandsTheLinkToXdgEmailOrSaysMailIsNotConfigured)
{
    // xdg-email exits with an error when the desktop has no mail program. No address, no link:
    // nothing runs and nothing is said.
    const QString address = MailHelper::supportAddress();
    for (const auto& [to, exitCode] : {std::pair{address, 0}, {address, 3}, {QString(), 0}}) {
        SCOPED_TRACE(testing::Message() << to.toStdString() << " " << exitCode);
        auto runner = std::make_shared<ScriptedProcessRunner>(ProcessResult{true, exitCode});
        FakeAlertPresenter alerts;
        MailHelper mail(runner, alerts, [] { return std::nullopt; });
        QSignalSpy finished(&mail, &MailHelper::mailComposeFinished);
        mail.composeMail(to, QStringLiteral("Subject"), feedbackBody);
        const bool sent = !to.isEmpty();
        if (sent) {
            ASSERT_TRUE(finished.wait(30000));
            EXPECT_EQ(finished.first().first().toBool(), exitCode == 0);
        }
        const QUrl link = MailHelper::mailtoUrl(to, QStringLiteral("Subject"), feedbackBody);
        const QList<QStringList> calls{
            {QStringLiteral("xdg-email"), QString::fromLatin1(link.toEncoded())}};
        EXPECT_EQ(runner->calls(), sent ? calls : QList<QStringList>{});
        EXPECT_EQ(alerts.presented,
                  exitCode == 0 ? QList<Alert>{} : QList<Alert>{expectedMailNotConfigured()});
    }
}

TEST(MailHelperTest, CrashReportGoesToXdgEmailOrSaysMailIsNotConfigured)
{
    // Not started, failed, crashed: not handed over. Still open when the runner stops waiting:
    // handed over.
    const std::pair<ProcessResult, bool> cases[] = {{{true, 0, false, false}, true},
                                                    {{false, -1, false, false}, false},
                                                    {{true, 3, false, false}, false},
                                                    {{true, -1, true, false}, false},
                                                    {{true, -1, false, true}, true}};
    const QString report = QStringLiteral("/tmp/Quillbay_CrashReport_1767225600.txt");
    for (const auto& [result, handedOver] : cases) {
        SCOPED_TRACE(testing::Message() << result.started << result.exitCode << result.crashed);
        auto runner = std::make_shared<ScriptedProcessRunner>(result);
        FakeAlertPresenter alerts;
        MailHelper mail(runner, alerts, [&] { return std::optional<QString>(report); });
        QSignalSpy finished(&mail, &MailHelper::crashReportMailFinished);
        mail.sendCrashReport();
        ASSERT_TRUE(finished.wait(30000));
        EXPECT_EQ(finished.first().first().toBool(), handedOver);
        EXPECT_EQ(alerts.presented,
                  handedOver ? QList<Alert>{} : QList<Alert>{expectedMailNotConfigured()});
        EXPECT_EQ(
            runner->calls(),
            (QList<QStringList>{
                {QStringLiteral("xdg-email"), QStringLiteral("--subject"),
                 QStringLiteral("Quillbay [Crash Report]"), QStringLiteral("--body"),
                 QStringLiteral("Hello Halvorin Support Team,\n\nPlease find the attached "
                                "crash report.\n\nDescribe what happened:\n\nSteps to "
                                "reproduce:\n1.\n2.\n3.\n\nThank you."),
                 QStringLiteral("--attach"), report, QStringLiteral("support@halvorin.com")}}));
    }

    // A report that cannot be written sends nothing and says so at once.
    auto runner = std::make_shared<ScriptedProcessRunner>();
    FakeAlertPresenter alerts;
    MailHelper mail(runner, alerts, [] { return std::nullopt; });
    QSignalSpy finished(&mail, &MailHelper::crashReportMailFinished);
    mail.sendCrashReport();
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished.first().first().toBool());
    EXPECT_TRUE(runner->calls().isEmpty());
    EXPECT_TRUE(alerts.presented.isEmpty());
}

} // namespace
} // namespace qb
