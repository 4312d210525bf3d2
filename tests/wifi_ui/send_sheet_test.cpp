#include "ui_test_support.h"
#include "wifi_ui/send_to_phone_sheet.h"
#include "wifi_ui/wifi_ui_style.h"

#include <QFontInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace qb {
namespace {

using State = SendToPhoneSheetModel::State;

// Queues `count` files for the phone; their ids in the registry's order.
QList<QUuid> queue(PendingOutgoingFilesRegistry& pending, int count)
{
    for (int i = 0; i < count; ++i)
        pending.enqueue(QUrl::fromLocalFile(QString("/f%1.bin").arg(i)), "10.0.0.5");
    QList<QUuid> ids;
    for (const PendingOutgoingFile& file : pending.files().last(count))
        ids << file.id;
    return ids;
}

QSet<QUuid> setOf(const QList<QUuid>& ids)
{
    return {ids.begin(), ids.end()};
}

TEST(SendSheet, WaitingSendingBackToWaitingThenDelivered)
{
    test::TestRegistries r;
    queue(r.pending, 1); // an earlier send of the same phone
    const QList<QUuid> ids = queue(r.pending, 3);
    SendToPhoneSheetModel model(r.pending, setOf(ids));
    EXPECT_EQ(model.trackedFiles().size(), 3);
    EXPECT_EQ(model.state(), State::Waiting);
    EXPECT_EQ(model.titleText("Pixel"), "Accept the file on your phone");
    EXPECT_EQ(model.buttonText(), "Cancel");

    r.pending.updateStatus(ids[0], SendStatus::Sending);
    EXPECT_EQ(model.state(), State::Sending);
    EXPECT_EQ(model.titleText("Pixel"), "Sending to Pixel\u2026");
    r.pending.updateStatus(ids[0], SendStatus::Completed);
    EXPECT_EQ(model.state(), State::Sending); // until the registry drops it
    r.pending.remove(ids[0]);
    EXPECT_EQ(model.state(), State::Waiting);
    // A failed file does not make the sheet sending.
    r.pending.updateStatus(ids[1], SendStatus::Failed);
    EXPECT_EQ(model.state(), State::Waiting);

    for (const QUuid& id : ids.mid(1)) {
        r.pending.updateStatus(id, SendStatus::Sending);
        r.pending.updateStatus(id, SendStatus::Completed);
        r.pending.remove(id);
    }
    // The failed one was fetched after all, so every file was delivered.
    EXPECT_EQ(model.state(), State::Done);
    EXPECT_EQ(model.titleText("Pixel"), "Sent successfully");
    EXPECT_EQ(model.subtitleText("Pixel"), "3 files delivered.");
    EXPECT_EQ(model.buttonText(), "Done");
    EXPECT_EQ(r.pending.files().size(), 1); // the earlier send is untouched
}

TEST(SendSheet, EndIsWordedForFailuresAndFilesCancelledElsewhere)
{
    test::TestRegistries r;
    const QUuid one = queue(r.pending, 1)[0];
    SendToPhoneSheetModel single(r.pending, {one});
    r.pending.updateStatus(one, SendStatus::Sending);
    r.pending.updateStatus(one, SendStatus::Failed);
    r.pending.remove(one);
    EXPECT_EQ(single.state(), State::Done);
    EXPECT_EQ(single.titleText("Pixel"), "Sending failed");
    EXPECT_EQ(single.subtitleText("Pixel"), "0 of 1 file delivered.");

    const QList<QUuid> ids = queue(r.pending, 3);
    SendToPhoneSheetModel model(r.pending, setOf(ids));
    r.pending.updateStatus(ids[0], SendStatus::Completed);
    r.pending.remove(ids[0]);
    r.pending.updateStatus(ids[1], SendStatus::Completed);
    r.pending.remove(ids[1]);
    r.pending.cancel(ids[2]);
    EXPECT_EQ(model.titleText("Pixel"), "Some files were not delivered");
    EXPECT_EQ(model.subtitleText("Pixel"), "2 of 3 files delivered.");
    EXPECT_EQ(model.undeliveredIDs(), QSet<QUuid>{ids[2]});
}

// Guards against a file the phone fetched again after a cut ending as not delivered: the cut's
// scheduled removal took it out of the list while it was being sent.
TEST(SendSheet, AFileFetchedAgainAfterACutCountsAsDelivered)
{
    test::TestRegistries r;
    QList<std::function<void()>> scheduled;
    r.pending.setScheduler(
        [&](std::chrono::milliseconds, std::function<void()> task) { scheduled << task; });
    const QList<QUuid> ids = queue(r.pending, 4);
    SendToPhoneSheetModel model(r.pending, setOf(ids));
    const auto text = [](const QUuid& id) {
        return id.toString(QUuid::WithoutBraces);
    };
    for (const QUuid& id : ids.mid(1)) {
        r.pending.markSending(text(id));
        r.pending.markCompleted(text(id));
    }
    r.pending.markSending(text(ids[0]));
    r.pending.markFailed(text(ids[0]));
    r.pending.markSending(text(ids[0])); // asked for again within the 3 s
    QCoreApplication::processEvents();
    for (const auto& task : std::exchange(scheduled, {}))
        task();
    EXPECT_EQ(model.trackedFiles().size(), 1);
    EXPECT_EQ(model.state(), State::Sending);

    r.pending.markCompleted(text(ids[0]));
    QCoreApplication::processEvents();
    ASSERT_EQ(scheduled.size(), 1);
    scheduled.first()();
    EXPECT_EQ(model.titleText("Pixel"), "Sent successfully");
    EXPECT_EQ(model.subtitleText("Pixel"), "4 files delivered.");
    EXPECT_EQ(model.deliveredCount(), 4);
}

// The end-to-end test covers the sheet of a delivered file, whose timer stops.
TEST(SendSheet, CancelStopsOnlyItsOwnFilesEscapeDoesNothingAndThePeerNameIsEscaped)
{
    test::TestRegistries r;
    const QList<QUuid> earlier = queue(r.pending, 2);
    const QList<QUuid> ids = queue(r.pending, 3);
    const WiFiPeer peer{"10.0.0.5", "<img src=x>&\nme", "012345", "token", {}};
    SendToPhoneSheet sheet(r.pending, peer, setOf(ids));
    EXPECT_EQ(sheet.subtitleShown(),
              "Open Quillbay Companion on &lt;img src=x&gt;&amp; me and tap <b>Get</b> next to the "
              "file in the <b>Incoming from Mac</b> card.");
    EXPECT_EQ(sheet.model().headerTitle(peer.name), "Send to <img src=x>& me");
    r.pending.updateStatus(ids[0], SendStatus::Sending);
    sheet.show();
    EXPECT_TRUE(sheet.isTicking());
    EXPECT_EQ(sheet.titleShown(), "Sending to <img src=x>& me\u2026");

    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(r.pending.files().size(), 5);
    sheet.hide();
    EXPECT_FALSE(sheet.isTicking()); // no timer while hidden
    sheet.show();

    QSignalSpy finished(&sheet, &QDialog::finished);
    sheet.footerButton()->click();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(r.pending.cancelledIDs(), setOf(ids));
    ASSERT_EQ(r.pending.files().size(), 2);
    EXPECT_EQ(r.pending.files()[1].id, earlier[1]);
}

// The byte and speed figures have a fixed size in pixels: on a desktop with a 10-point body font
// they are no larger than the caption-sized file names above them.
TEST(SendSheet, FixedFiguresAreNoLargerThanTheFileNames)
{
    test::TestRegistries r;
    const QFont saved = QApplication::font();
    QFont desktop = saved;
    desktop.setPointSizeF(10);
    QApplication::setFont(desktop);
    const int name =
        QFontInfo(wifiui::textFont(wifiui::TextStyle::Caption, QFont::Medium)).pixelSize();
    for (bool monospaced : {false, true}) {
        const QFont figures = wifiui::sizedFont(10, QFont::DemiBold, monospaced);
        EXPECT_EQ(figures.pixelSize(), 10);
        EXPECT_LE(QFontInfo(figures).pixelSize(), name);
    }
    QApplication::setFont(saved);
}

} // namespace
} // namespace qb
