#include "app/quillbay_app.h"
#include "platform/quit_signal_watcher.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("halvorin"));
    QApplication::setApplicationName(QStringLiteral("Quillbay"));
    QApplication::setApplicationVersion(QStringLiteral(QB_APP_VERSION));

    qb::QuillbayApp quillbay(qb::QuillbayApp::processOptions());
    qb::QuitSignalWatcher quitSignals;
    QObject::connect(&quitSignals, &qb::QuitSignalWatcher::quitRequested, &app,
                     &QCoreApplication::quit);

    int status = 0;
    {
        QMainWindow window;
        window.setWindowTitle(QStringLiteral("Quillbay"));
        window.setMinimumSize(900, 600);
        window.show();
        status = QApplication::exec();
    }
    quillbay.shutdown();
    return status;
}
