#include "app/app_version.h"
#include "app/application_windows.h"
#include "app/main_window.h"
#include "app/quillbay_app.h"
#include "platform/app_paths.h"
#include "platform/open_file_limit.h"
#include "platform/quit_signal_watcher.h"
#include "platform/single_instance.h"
#include "ui_common/symbol_icon.h"

#include <QApplication>
#include <QIcon>

#include <memory>

int main(int argc, char* argv[])
{
    Q_INIT_RESOURCE(app);
    qb::raiseOpenFileLimit(); // before any thread starts, so that every one may open files
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("halvorin"));
    QApplication::setApplicationName(QStringLiteral("Quillbay"));
    QApplication::setApplicationVersion(qb::AppVersion::version());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quillbay/quillbay.svg")));
    qb::installIconThemeFallback();

    // Before anything reads or writes the data folder: a second copy would write its own lists
    // over the running one's. Held until the process ends.
    qb::SingleInstance instance(qb::AppPaths::dataFolder());
    switch (instance.start()) {
    case qb::SingleInstance::Outcome::Running:
        break;
    case qb::SingleInstance::Outcome::HandedOver:
        return 0;
    case qb::SingleInstance::Outcome::NoAnswer:
        return 1;
    }

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
        QObject::connect(&instance, &qb::SingleInstance::showRequested, &windows,
                         &qb::ApplicationWindows::showMain);
        windows.mainWindow().show();
        status = QApplication::exec();
    }
    quillbay.reset();
    return qb::QuillbayApp::finishProcess(status);
}
