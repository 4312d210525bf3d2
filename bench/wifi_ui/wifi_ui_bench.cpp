// The page of one Wi-Fi phone with P files waiting for it and H history records, for
// (P, H) = (100, 1,000) and (1,000, 10,000): GUI time to show the page, to apply one new history
// record, and to apply one progress report of a waiting file, each until the page has painted.
// Prints the times (best of five) and the ratio of the two sizes (goal: under 12).
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"
#include "wifi_ui/connected_device_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace qb;

namespace {

const QString kHost = QStringLiteral("192.168.1.40");

struct Times
{
    double show = 1e9;
    double record = 1e9;
    double progress = 1e9;
};

// Runs `work`, then lets the page lay out and paint; milliseconds.
template <typename Work> double timed(Work work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    // Delayed layouts and paints run from posted events and zero-time timers.
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e6;
}

Times measure(int pendingCount, int historyCount)
{
    QTemporaryDir data;
    WiFiPeerRegistry peers(data.path());
    PendingOutgoingFilesRegistry pending;
    ReceivedFilesRegistry received(data.path());
    SentFilesRegistry sent(data.path());
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-30);
    QList<ReceivedFile> in;
    QList<SentFile> out;
    for (int i = historyCount - 1; i >= 0; --i) {
        const QDateTime at = start.addSecs(i * 60);
        const QUrl url =
            QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/Quillbay/IMG_%1.jpg").arg(i));
        // Every fifth record belongs to another phone.
        const QString host = i % 5 == 0 ? QStringLiteral("192.168.1.41") : kHost;
        if (i % 2 == 0)
            in.append({QUuid::createUuid(), url, 1'000'000 + i, at, host, QStringLiteral("Pixel")});
        else
            out.append({QUuid::createUuid(), url, 2'000 + i, at, host});
    }
    received.setFiles(in);
    sent.setFiles(out);
    for (int i = 0; i < pendingCount; ++i)
        pending.enqueue(QUrl::fromLocalFile(QStringLiteral("/home/u/file %1.pdf").arg(i)), kHost);
    const WiFiRegistries registries{&peers, &pending, &received, &sent};
    const WiFiPeer peer{kHost, QStringLiteral("Pixel"), QStringLiteral("012345"),
                        QStringLiteral("token"), start};

    Times best;
    for (int run = 0; run < 5; ++run) {
        ConnectedDeviceView* page = nullptr;
        best.show = std::min(best.show, timed([&] {
                                 page = new ConnectedDeviceView(registries, peer);
                                 page->resize(900, 700);
                                 page->show();
                             }));
        best.record = std::min(
            best.record, timed([&] {
                QList<ReceivedFile> files = received.files();
                files.prepend({QUuid::createUuid(), QUrl::fromLocalFile(QStringLiteral("/new.jpg")),
                               5, QDateTime::currentDateTimeUtc(), kHost, QStringLiteral("Pixel")});
                received.setFiles(files);
            }));
        const QUuid first = pending.files().first().id;
        best.progress = std::min(best.progress, timed([&] {
                                     pending.updateStatus(first, SendStatus::Sending);
                                     pending.updateProgress(first, 1000 * (run + 1));
                                 }));
        delete page;
        QApplication::processEvents();
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const Times small = measure(100, 1'000);
    const Times large = measure(1'000, 10'000);
    std::printf("%-34s %12s %12s %8s\n", "GUI time (best of 5), ms", "100/1,000", "1,000/10,000",
                "ratio");
    auto line = [](const char* what, double a, double b) {
        std::printf("%-34s %12.2f %12.2f %8.2f\n", what, a, b, b / a);
    };
    line("show the page", small.show, large.show);
    line("apply one new history record", small.record, large.record);
    line("apply one progress report", small.progress, large.progress);
    return 0;
}
