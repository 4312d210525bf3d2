#pragma once

#include "app/alert_presenter.h"
#include "platform/desktop_url_opener.h"
#include "platform/process_runner.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace qb {

// Mail to the support team: the crash report handed to the desktop's mail program with the
// report attached (xdg-email), and feedback through a mailto: link. Lives on the GUI thread.
class MailHelper : public QObject
{
    Q_OBJECT

public:
    using CrashReportWriter = std::function<std::optional<QString>()>;

    static QString supportAddress();
    static QString crashReportSubject();
    static QString crashReportMessage();

    // `runner` may be busy after this object is gone (a mail program that stays open), hence
    // shared. `opener` and `alerts` must outlive this object.
    MailHelper(std::shared_ptr<ProcessRunner> runner, DesktopUrlOpener& opener,
               AlertPresenter& alerts, CrashReportWriter writeCrashReport,
               QObject* parent = nullptr);

    // Writes a crash report and composes a mail to support with it attached. Returns at once;
    // crashReportMailFinished() tells the outcome.
    void sendCrashReport();
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

private:
    std::shared_ptr<ProcessRunner> m_runner;
    DesktopUrlOpener& m_opener;
    AlertPresenter& m_alerts;
    CrashReportWriter m_writeCrashReport;
};

} // namespace qb
