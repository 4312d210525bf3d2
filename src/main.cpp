#include "app/app_version.h"
#include "app/application_windows.h"
#include "app/main_window.h"
#include "app/quillbay_app.h"
#include "platform/quit_signal_watcher.h"
#include "ui_common/symbol_icon.h"

#include <QApplication>
#include <QIcon>

#include <memory>

int main(int argc, char* argv[])
{
    Q_INIT_RESOURCE(app);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("halvorin"));
    QApplication::setApplicationName(QStringLiteral("Quillbay"));
    QApplication::setApplicationVersion(qb::AppVersion::version());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quillbay/quillbay.svg")));
    qb::installIconThemeFallback();

    auto quillbay = std::make_unique<qb::QuillbayApp>(qb::QuillbayApp::processOptions());
    qb::QuitSignalWatcher quitSignals;
    // exit() rather than quit(): quit() first asks every window to close, and the consent
    // dialog refuses to.
    const auto leave = [] {
        QCoreApplication::exit(0);
    };
    QObject::connect(&quitSignals, &qb::QuitSignalWatcher::quitRequested, &app, leave);

    int status = 0;
    {
        qb::ApplicationWindows windows(*quillbay);
        QObject::connect(&windows, &qb::ApplicationWindows::quitRequested, &app, leave,
                         Qt::QueuedConnection);
        windows.mainWindow().show();
        status = QApplication::exec();
    }
    quillbay.reset();
    return qb::QuillbayApp::finishProcess(status);
}
