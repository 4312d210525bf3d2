// Quillbay, ended as main() ends it, while a phone's connection thread is held in a call that
// never returns: the open of a named pipe that nobody writes to, on its way to the application's
// own backend. Quitting waits a second for the connection threads. Prints "stuck" once the thread
// is held; once the application is shut down, lets the thread go on to the backend (where it is
// held again) before the process ends, as a disk that answers late would. An upload is recorded
// through the backend as the event loop ends, so that its record still waits to be applied when
// the application shuts down. The folder for its data is the first argument.
#include "app/fake_app_options.h"
#include "app/quillbay_app.h"
#include "quit_child_support.h"
#include "wifi/pipe_held_backend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>
#include <thread>

using namespace qb;

namespace {

// A phone asking for a file; it waits for an answer that never comes.
void download(quint16 port)
{
    test::requestAndWait(port, "GET /download?id=1 HTTP/1.1\r\n\r\n");
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1)
        qputenv("XDG_DATA_HOME", argv[1]);
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    const QString fifo = folder.filePath(QStringLiteral("held"));
    if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
        return 2;
    test::PipeHeldBackend* held = nullptr;
    QuillbayApp::Options options = test::fakeAppOptions(nullptr);
    // Used up by the wait for the connection, as the ten seconds each are.
    options.historyWait = std::chrono::milliseconds(500);
    options.makeWiFiServer = [&](WiFiServerBackend& backend) {
        QObject::connect(&application, &QCoreApplication::aboutToQuit, [&backend] {
            backend.recordReceived(QStringLiteral("/in/late.jpg"), 1, QStringLiteral("127.0.0.9"),
                                   QStringLiteral("Pixel"));
        });
        // Never destroyed: the held thread still uses it when the process ends.
        held = new test::PipeHeldBackend(fifo, backend);
        WiFiAdvertiser::Options server;
        server.connectionWaitMs = 1000;
        return std::make_unique<WiFiAdvertiser>(*held, nullptr, std::move(server));
    };
    auto quillbay = std::make_unique<QuillbayApp>(std::move(options));

    std::thread(download, quillbay->wifiServer()->port().value_or(0)).detach();
    return test::runUntilQuit(
        std::move(quillbay), [&] { return held->held(); },
        [&] {
            held->holdAfterLookUp();
            held->release();
            QElapsedTimer clock;
            clock.start();
            while (!held->lookedUp() && clock.elapsed() < 2000)
                QThread::msleep(10);
            if (!held->lookedUp())
                std::fputs("The held connection never reached the backend\n", stderr);
        });
}
