#include "app/mail_helper.h"

#include "platform/support_contact.h"
#include "platform/when_finished.h"

#include <QFuture>
#include <QPromise>
#include <QUrlQuery>

#include <thread>

namespace qb {

namespace {

// Runs the program on a thread of its own: the mail program may stay in the foreground until the
// user closes it, and the GUI thread must not wait for that.
QFuture<ProcessResult> runDetached(std::shared_ptr<ProcessRunner> runner, QString program,
                                   QStringList arguments)
{
    QPromise<ProcessResult> promise;
    QFuture<ProcessResult> future = promise.future();
    promise.start();
    std::thread([runner = std::move(runner), program = std::move(program),
                 arguments = std::move(arguments), promise = std::move(promise)]() mutable {
        ProcessResult result;
        try {
            result = runner->run(program, arguments);
        } catch (...) {
        }
        promise.addResult(result);
        promise.finish();
    }).detach();
    return future;
}

} // namespace

QString MailHelper::supportAddress()
{
    return SupportContact::emailAddress();
}

QString MailHelper::crashReportSubject()
{
    return QStringLiteral("Quillbay [Crash Report]");
}

QString MailHelper::crashReportMessage()
{
    return QStringLiteral("Hello Halvorin Support Team,\n\nPlease find the attached crash report."
                          "\n\nDescribe what happened:\n\nSteps to reproduce:\n1.\n2.\n3.\n\n"
                          "Thank you.");
}

MailHelper::MailHelper(std::shared_ptr<ProcessRunner> runner, AlertPresenter& alerts,
                       CrashReportWriter writeCrashReport, QObject* parent)
    : QObject(parent), m_runner(std::move(runner)), m_alerts(alerts),
      m_writeCrashReport(std::move(writeCrashReport))
{}

void MailHelper::sendCrashReport()
{
    const std::optional<QString> report = m_writeCrashReport();
    if (!report) {
        emit crashReportMailFinished(false);
        return;
    }
    // The report stays in the temporary folder either way.
    handToMailProgram(
        xdgEmailArguments(supportAddress(), crashReportSubject(), crashReportMessage(), *report),
        [this](bool handedOver) { emit crashReportMailFinished(handedOver); });
}

void MailHelper::composeMail(const QString& to, const QString& subject, const QString& body)
{
    const QUrl url = mailtoUrl(to, subject, body);
    if (!url.isValid())
        return;
    // Not QDesktopServices: it reports success as soon as xdg-open starts, mail program or not.
    handToMailProgram({QString::fromLatin1(url.toEncoded())},
                      [this](bool handedOver) { emit mailComposeFinished(handedOver); });
}

void MailHelper::handToMailProgram(QStringList arguments, std::function<void(bool)> done)
{
    const QFuture<ProcessResult> run =
        runDetached(m_runner, QStringLiteral("xdg-email"), std::move(arguments));
    whenFinished(this, run, [this, done = std::move(done)](const QFuture<ProcessResult>& finished) {
        const ProcessResult result =
            finished.resultCount() > 0 ? finished.result() : ProcessResult{};
        // A mail program that keeps xdg-email waiting past the runner's patience is showing
        // the message.
        const bool handedOver = result.succeeded() || result.timedOut;
        if (!handedOver)
            showMailNotConfiguredAlert();
        done(handedOver);
    });
}

void MailHelper::showMailNotConfiguredAlert()
{
    m_alerts.present(mailNotConfiguredAlert());
}

QUrl MailHelper::mailtoUrl(const QString& to, const QString& subject, const QString& body)
{
    if (to.isEmpty())
        return {};
    // Encode each value fully, so '&', '=', '+' and '#' in a text cannot end or split it.
    auto encode = [](const QString& text) {
        return QString::fromLatin1(QUrl::toPercentEncoding(text));
    };
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(to);
    url.setQuery(QStringLiteral("subject=") + encode(subject) + QStringLiteral("&body=") +
                     encode(body),
                 QUrl::StrictMode);
    return url.isValid() ? url : QUrl();
}

QStringList MailHelper::xdgEmailArguments(const QString& to, const QString& subject,
                                          const QString& body, const QString& attachment)
{
    return {QStringLiteral("--subject"),
            subject,
            QStringLiteral("--body"),
            body,
            QStringLiteral("--attach"),
            attachment,
            to};
}

Alert MailHelper::mailNotConfiguredAlert()
{
    return {Alert::Style::Warning,
            QStringLiteral("Mail Not Configured"),
            QStringLiteral("Please configure a mail application to send this report, or email "
                           "us directly at ") +
                supportAddress() + QStringLiteral("."),
            {QStringLiteral("OK")}};
}

} // namespace qb
