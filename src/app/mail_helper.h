#pragma once

#include "app/alert_presenter.h"
#include "platform/process_runner.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace qb {

// Mail to the support team, handed to the desktop's mail program by xdg-email: the crash report
// with the report attached, and feedback as a mailto: link. xdg-email's exit status tells whether
// a mail program took it; when none did, the "Mail Not Configured" alert says so. Lives on the
// GUI thread.
class MailHelper : public QObject
{
    Q_OBJECT

public:
    using CrashReportWriter = std::function<std::optional<QString>()>;

    static QString supportAddress();
    static QString crashReportSubject();
    static QString crashReportMessage();

    // `runner` may be busy after this object is gone (a mail program that stays open), hence
    // shared. `alerts` must outlive this object.
    MailHelper(std::shared_ptr<ProcessRunner> runner, AlertPresenter& alerts,
               CrashReportWriter writeCrashReport, QObject* parent = nullptr);

    // Writes a crash report and composes a mail to support with it attached. Returns at once;
    // crashReportMailFinished() tells the outcome.
    void sendCrashReport();
    // Returns at once; mailComposeFinished() tells the outcome. An address that cannot form a
    // link does nothing.
    void composeMail(const QString& to, const QString& subject, const QString& body);
    void showMailNotConfiguredAlert();

    // Invalid when the address cannot form a link.
    static QUrl mailtoUrl(const QString& to, const QString& subject, const QString& body);
    static QStringList xdgEmailArguments(const QString& to, const QString& subject,
                                         const QString& body, const QString& attachment);
    static Alert mailNotConfiguredAlert();

signals:
    // `handedOver` is false when no report was written or the mail program failed.
    void crashReportMailFinished(bool handedOver);
    // `handedOver` is false when the mail program failed.
    void mailComposeFinished(bool handedOver);

private:
    // Runs xdg-email off the GUI thread, shows the alert when no mail program took the message,
    // then tells `done` whether one did.
    void handToMailProgram(QStringList arguments, std::function<void(bool handedOver)> done);

    std::shared_ptr<ProcessRunner> m_runner;
    AlertPresenter& m_alerts;
    CrashReportWriter m_writeCrashReport;
};

} // namespace qb
