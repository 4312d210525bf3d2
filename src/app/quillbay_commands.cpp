#include "app/quillbay_commands.h"

#include "app/mail_helper.h"
#include "ui_common/command_bus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace qb {

namespace {

QAction* add(QMenu* menu, const QString& text, const QKeySequence& shortcut,
             std::function<void()> handler)
{
    QAction* action = menu->addAction(text);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    QObject::connect(action, &QAction::triggered, menu, [handler] {
        if (handler)
            handler();
    });
    return action;
}

std::function<void()> posting(const QString& name)
{
    return [name] {
        CommandBus::shared().post(name);
    };
}

} // namespace

QuillbayCommands::QuillbayCommands(QMenuBar& menuBar, MailHelper* mail, Actions actions,
                                   QObject* parent)
    : QObject(parent), m_menuBar(menuBar)
{
    QMenu* file = menuBar.addMenu(tr("&File"));
    add(file, tr("Settings…"), QKeySequence(QStringLiteral("Ctrl+,")), actions.openSettings);
    file->addSeparator();
    QAction* quit = add(file, tr("Quit"), QKeySequence(QStringLiteral("Ctrl+Q")), actions.quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu* device = menuBar.addMenu(tr("&Device"));
    add(device, tr("Refresh Connected Devices"), QKeySequence(QStringLiteral("Ctrl+R")),
        posting(Notifications::refreshDevices));

    QMenu* transfer = menuBar.addMenu(tr("&Transfer"));
    add(transfer, tr("Show Transfer Queue"), QKeySequence(QStringLiteral("Ctrl+Shift+T")),
        posting(Notifications::showTransferQueue));

    QMenu* help = menuBar.addMenu(tr("&Help"));
    add(help, tr("Quillbay Help"), QKeySequence(QStringLiteral("Ctrl+/")),
        posting(Notifications::showHelp));
    help->addSeparator();
    add(help, tr("Report Crash"), {}, [mail] {
        if (mail)
            mail->sendCrashReport();
    });
    add(help, tr("Send Feedback"), {}, [mail] {
        if (mail)
            mail->composeMail(MailHelper::supportAddress(), QString::fromUtf8(feedbackSubject),
                              QString::fromUtf8(feedbackBody));
    });
    help->addSeparator();
    add(help, tr("Terms && Conditions"), {}, posting(Notifications::showTerms));
    add(help, tr("Privacy Policy"), {}, posting(Notifications::showPrivacy));
    help->addSeparator();
    add(help, tr("About Quillbay"), {}, actions.openAbout)->setMenuRole(QAction::AboutRole);
}

QAction* QuillbayCommands::action(const QString& text) const
{
    for (QAction* menuAction : m_menuBar.actions()) {
        if (!menuAction->menu())
            continue;
        for (QAction* item : menuAction->menu()->actions()) {
            if (item->text() == text)
                return item;
        }
    }
    return nullptr;
}

} // namespace qb
