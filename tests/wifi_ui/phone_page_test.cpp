#include "support/tooltip_text.h"
#include "ui_test_support.h"
#include "wifi/registry_server_backend.h"
#include "wifi_ui/connected_device_view.h"
#include "wifi_ui/phone_page_delegate.h"
#include "wifi_ui/phone_page_model.h"
#include "wifi_ui/send_to_phone_sheet.h"
#include "wifi_ui/wifi_formatters.h"
#include "wifi_ui/wifi_pairing_prompt_view.h"
#include "wifi_ui/wifi_phone_view.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace qb {
namespace {

using Kind = PhonePageRow::Kind;

const QDateTime kNoon = QDateTime::fromSecsSinceEpoch(1'750'000'000, Qt::UTC);

ReceivedFile received(const QString& name, const QString& host, int minute)
{
    return {QUuid::createUuid(),
            QUrl::fromLocalFile("/in/" + name),
            10,
            kNoon.addSecs(minute * 60),
            host,
            "Pixel"};
}

SentFile sent(const QString& name, const QString& host, int minute)
{
    return {QUuid::createUuid(), QUrl::fromLocalFile("/out/" + name), 20,
            kNoon.addSecs(minute * 60), host};
}

QStringList namesOf(const QList<TransferEntry>& entries)
{
    QStringList names;
    for (const TransferEntry& entry : entries)
        names << entry.url().fileName();
    return names;
}

QList<Kind> kindsOf(const PhonePageModel& model)
{
    QList<Kind> kinds;
    for (const PhonePageRow& row : model.rows())
        kinds << row.kind;
    return kinds;
}

TEST(PhonePage, RowsSectionsAndCountsFollowTheRegistries)
{
    test::TestRegistries r;
    r.pending.enqueue(QUrl::fromLocalFile("/a.txt"), "10.0.0.5");
    r.pending.enqueue(QUrl::fromLocalFile("/b.txt"), "10.0.0.6");
    r.pending.enqueue(QUrl::fromLocalFile("/c.txt"), "10.0.0.5");
    PhonePageModel model(r.all(), "10.0.0.5", "Pixel");
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    // Waiting files of this phone only, then the empty state.
    EXPECT_EQ(kindsOf(model), QList<Kind>({Kind::PendingHeader, Kind::PendingFile,
                                           Kind::PendingFile, Kind::SectionDivider, Kind::Empty}));
    EXPECT_EQ(model.row(0).count, 2);
    EXPECT_EQ(model.index(2).data().toString(), "c.txt");
    EXPECT_FALSE(model.index(1).data(PhonePageModel::LastInSectionRole).toBool());
    EXPECT_TRUE(model.index(2).data(PhonePageModel::LastInSectionRole).toBool());

    // Every status counts until the registry drops the file.
    r.pending.updateStatus(model.row(1).pending().id, SendStatus::Sending);
    model.applyChanges();
    EXPECT_EQ(model.row(1).pending().status, SendStatus::Sending);
    EXPECT_EQ(model.row(0).count, 2);

    // The history of this phone only, newest first, received before sent at equal times.
    r.received.setFiles({received("r3", "10.0.0.5", 3), received("other", "10.0.0.6", 9),
                         received("r1", "10.0.0.5", 1)});
    r.sent.setFiles(
        {sent("s3", "10.0.0.5", 3), sent("s2", "10.0.0.5", 2), sent("s9", "10.0.0.50", 9)});
    model.applyChanges();
    EXPECT_EQ(namesOf(model.activity()), QStringList({"r3", "s3", "s2", "r1"}));
    EXPECT_EQ(model.activity()[1].subtitle(), "Sent to phone");
    const QList<Kind> history{Kind::ActivityHeader, Kind::Activity, Kind::Activity, Kind::Activity,
                              Kind::Activity};
    EXPECT_EQ(kindsOf(model).mid(4), history);
    EXPECT_EQ(model.row(4).count, 4);
    for (const PendingOutgoingFile& file : r.pending.files())
        r.pending.cancel(file.id);
    model.applyChanges();
    EXPECT_EQ(kindsOf(model), history);
}

TEST(PhonePage, ABurstOfQueuedFilesIsAppliedOnce)
{
    // A thousand files chosen at once must not rebuild the page a thousand times.
    test::TestRegistries r;
    PhonePageModel model(r.all(), "10.0.0.5", "Pixel");
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 1000; ++i)
        r.pending.enqueue(QUrl::fromLocalFile(QString("/f%1").arg(i)), "10.0.0.5");
    EXPECT_EQ(inserted.size(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(inserted.size(), 1);
    EXPECT_EQ(model.rowCount(), 1000 + 3);
}

TEST(PhonePage, ChangesArriveAsDiffsSoTheSelectionAndViewStay)
{
    test::TestRegistries r;
    QList<ReceivedFile> files;
    for (int i = 0; i < 50; ++i)
        files.prepend(received(QString("f%1").arg(i), "10.0.0.5", i));
    r.received.setFiles(files);
    PhonePageModel model(r.all(), "10.0.0.5", "Pixel");
    const QPersistentModelIndex tenth = model.index(10);
    int resets = 0;
    int inserted = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(
        &model, &QAbstractItemModel::rowsInserted,
        [&](const QModelIndex&, int first, int last) { inserted += last - first + 1; });
    model.setSelectedFileID(model.row(10).id());
    EXPECT_TRUE(tenth.data(PhonePageModel::SelectedRole).toBool());

    r.received.record(QUrl::fromLocalFile("/in/newest"), 1, "10.0.0.5", "Pixel");
    model.applyChanges();
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(inserted, 1);
    EXPECT_EQ(tenth.row(), 11);
    EXPECT_TRUE(tenth.data(PhonePageModel::SelectedRole).toBool());
    EXPECT_EQ(model.index(1).data().toString(), "newest");
    EXPECT_EQ(model.row(0).count, 51);

    // A selected entry that leaves the list leaves nothing highlighted.
    const QUuid selected = model.row(11).id();
    QList<ReceivedFile> fewer = r.received.files();
    fewer.removeIf([&](const ReceivedFile& file) { return file.id == selected; });
    r.received.setFiles(fewer);
    model.applyChanges();
    EXPECT_EQ(model.selectedFileID(), selected);
    for (int row = 0; row < model.rowCount(); ++row)
        EXPECT_FALSE(model.index(row).data(PhonePageModel::SelectedRole).toBool());
}

// The bottom line of pixels of an activity row as the delegate paints it.
QList<QRgb> bottomLine(const QModelIndex& index)
{
    PhonePageDelegate delegate;
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 400, delegate.sizeHint(option, index).height());
    option.state = QStyle::State_Enabled;
    QImage image(option.rect.size(), QImage::Format_ARGB32);
    image.fill(option.palette.color(QPalette::Base));
    {
        QPainter painter(&image);
        delegate.paint(&painter, option, index);
    }
    QList<QRgb> line;
    for (int x = 100; x < 300; ++x)
        line.append(image.pixel(x, option.rect.bottom()));
    return line;
}

TEST(PhonePage, SelectedActivityRowKeepsItsDivider)
{
    test::TestRegistries r;
    r.received.setFiles(
        {received("c", "10.0.0.5", 3), received("b", "10.0.0.5", 2), received("a", "10.0.0.5", 1)});
    PhonePageModel model(r.all(), "10.0.0.5", "Pixel");
    ASSERT_EQ(model.rowCount(), 4); // the header and three entries
    model.setSelectedFileID(model.row(3).id());
    const QList<QRgb> last = bottomLine(model.index(3));
    model.setSelectedFileID(model.row(1).id());
    EXPECT_NE(bottomLine(model.index(1)), last);
}

struct KeyRow
{
    int id = 0;
    int value = 0;
    int key() const { return id; }
    bool operator==(const KeyRow&) const = default;
};

class KeyRows : public KeyedListModel<KeyRow>
{
public:
    using KeyedListModel::replaceRows;
    QVariant data(const QModelIndex& index, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(row(index.row()).id) : QVariant();
    }
};

TEST(PhonePage, RandomChangesLeaveTheListAsPublishedAndKeptRowsTracked)
{
    KeyRows model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QRandomGenerator random(16);
    QList<KeyRow> rows;
    for (int round = 0; round < 300; ++round) {
        // Drop, insert and change rows at random; now and then reorder (a reset).
        QList<KeyRow> next;
        for (const KeyRow& row : rows) {
            if (random.bounded(5) != 0)
                next << KeyRow{row.id, random.bounded(3) == 0 ? row.value + 1 : row.value};
        }
        for (int n = random.bounded(4); n > 0; --n)
            next.insert(random.bounded(int(next.size()) + 1), {round * 10 + n, 0});
        if (random.bounded(20) == 0 && next.size() > 1)
            next.swapItemsAt(0, next.size() - 1);
        const int tracked = model.rowCount() > 0 ? model.row(0).id : -1;
        const QPersistentModelIndex first = model.index(0);
        model.replaceRows(next);
        ASSERT_EQ(model.rows(), next) << round;
        if (first.isValid()) {
            EXPECT_EQ(model.row(first.row()).id, tracked) << round;
        }
        rows = next;
    }
}

TEST(PhonePage, NetworkTextIsShownPlainAndOnOneLine)
{
    test::TestRegistries r;
    const WiFiPeer peer{"10.0.0.5", "<img src=x>\r\t<b>Evil</b>\u2028!", "012345", "token", kNoon};
    ConnectedDeviceView page(r.all(), peer);
    const QList<QLabel*> labels = page.findChildren<QLabel*>();
    bool sawName = false;
    for (QLabel* label : labels) {
        if (label->toolTip().contains("Evil")) {
            sawName = true;
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_EQ(test::tooltipText(label->toolTip()), "<img src=x>  <b>Evil</b> !");
            // Regression: the description was the tooltip's markup, spoken tag by tag.
            EXPECT_EQ(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Description),
                      "<img src=x>  <b>Evil</b> !");
            EXPECT_FALSE(label->text().contains('\n'));
        }
    }
    EXPECT_TRUE(sawName);

    WiFiPairingPromptView prompt({"10.0.0.5", "<i>x</i>", "001234", std::nullopt, kNoon});
    EXPECT_EQ(prompt.pinShown(), "001 234");
    for (QLabel* label : prompt.findChildren<QLabel*>()) {
        if (label->text().contains("<i>")) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
}

// Regression: history rows read only the file's name, and a waiting file could be cancelled
// only by a click on its painted button.
TEST(PhonePage, RowsAreReadWholeAndDeleteCancelsAWaitingFile)
{
    test::TestRegistries r;
    r.received.setFiles({received("beach.jpg", "10.0.0.5", 2)});
    r.sent.setFiles({sent("notes.txt", "10.0.0.5", 1)});
    r.pending.enqueue(QUrl::fromLocalFile("/stay.txt"), "10.0.0.5");
    r.pending.enqueue(QUrl::fromLocalFile("/go.txt"), "10.0.0.5");
    ConnectedDeviceView page(r.all(), {"10.0.0.5", "Pixel", "012345", "token", kNoon});
    page.resize(600, 500);
    page.show();
    auto* list = page.findChild<PhonePageListView*>();
    ASSERT_NE(list, nullptr);
    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(list);
    const auto description = [&](int row) {
        return rows->child(row)->text(QAccessible::Description);
    };
    // Header, two waiting files, divider, header, then the history newest first.
    const QString time =
        QLocale().toString(kNoon.addSecs(120).toLocalTime().time(), QLocale::ShortFormat);
    EXPECT_EQ(rows->child(5)->text(QAccessible::Name), "beach.jpg");
    EXPECT_EQ(description(5), QString::fromUtf8("0 KB \u2022 ") + time +
                                  QString::fromUtf8(" \u2022 Received \u2022 from Pixel"));
    EXPECT_TRUE(description(6).endsWith(QString::fromUtf8(" \u2022 Sent to phone")));
    EXPECT_EQ(description(2), "Waiting for phone to download. Press Delete to cancel.");

    list->setFocus();
    list->setCurrentIndex(page.model()->index(2, 0));
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_EQ(r.pending.files().size(), 1);
    EXPECT_EQ(r.pending.files().first().url.fileName(), "stay.txt");
    EXPECT_TRUE(r.pending.cancelledIDs().size() == 1);
    // On a history row Delete does nothing.
    page.model()->applyChanges();
    list->setCurrentIndex(page.model()->index(4, 0));
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(r.pending.files().size(), 1);
}

TEST(PhonePage, FollowsTheSelectedPeerAndItsPairing)
{
    test::TestRegistries r;
    WiFiPhoneView view(r.all());
    EXPECT_EQ(view.page(), nullptr);
    EXPECT_EQ(view.prompt(), nullptr);
    r.peers.touch("10.0.0.5", QString("Pixel"));
    r.peers.setSelectedPeerHost(QString("10.0.0.5"));
    ASSERT_NE(view.prompt(), nullptr);
    EXPECT_EQ(view.prompt()->pinShown(), formattedPIN(r.peers.peers().first().pin));

    ASSERT_TRUE(r.peers.verifyPIN("10.0.0.5", r.peers.peers().first().pin).has_value());
    ASSERT_NE(view.page(), nullptr);
    EXPECT_EQ(view.prompt(), nullptr);
    for (const QTimer* timer : view.findChildren<QTimer*>())
        EXPECT_FALSE(timer->isActive()); // an idle page costs nothing

    // "Reconnect" acts only after the confirmation; the prompt then shows the new PIN.
    QPointer<ConnectedDeviceView> page = view.page();
    for (QAction* action : page->findChildren<QAction*>()) {
        if (action->text() == "Reconnect (new PIN)")
            action->trigger();
    }
    auto* box = page->findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(r.peers.peers().first().token.has_value());
    box->button(QMessageBox::Cancel)->click();
    EXPECT_TRUE(r.peers.peers().first().token.has_value());
    page->applyPeerAction(ConnectedDeviceView::PeerAction::Reconnect);
    ASSERT_NE(view.prompt(), nullptr);
    EXPECT_EQ(view.prompt()->pinShown(), formattedPIN(r.peers.peers().first().pin));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(page.isNull());

    // Forgetting acts at once and takes the page away.
    ASSERT_TRUE(r.peers.verifyPIN("10.0.0.5", r.peers.peers().first().pin).has_value());
    view.page()->applyPeerAction(ConnectedDeviceView::PeerAction::Forget);
    EXPECT_TRUE(r.peers.peers().isEmpty());
    EXPECT_EQ(view.page(), nullptr);
}

// Guards against Return answering "Reconnect", which clears the phone's pairing at once.
TEST(PhonePage, TheReconnectQuestionStartsOnCancelAndReturnKeepsThePairing)
{
    test::TestRegistries r;
    r.peers.touch("10.0.0.5", QString("Pixel"));
    ASSERT_TRUE(r.peers.verifyPIN("10.0.0.5", r.peers.peers().first().pin).has_value());
    ConnectedDeviceView page(r.all(), r.peers.peers().first());
    page.show();
    for (QAction* action : page.findChildren<QAction*>()) {
        if (action->text() == "Reconnect (new PIN)")
            action->trigger();
    }
    QPointer<QMessageBox> box = page.findChild<QMessageBox*>();
    ASSERT_FALSE(box.isNull());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Cancel));
    EXPECT_EQ(box->focusWidget(), box->button(QMessageBox::Cancel));
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::Cancel));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_FALSE(box->isVisible());
    EXPECT_TRUE(r.peers.peers().first().token.has_value());
}

// Guards against the page of a phone that reconnects from a new address giving way to the setup
// guide, losing its open send sheet, and still listing what waits at the old address.
TEST(PhonePage, APhoneReconnectingFromANewAddressKeepsItsPageAndSheet)
{
    test::TestRegistries r;
    RegistryServerBackend backend(r.peers, r.pending, r.received, r.sent); // as the app wires it
    r.sent.setFiles({sent("old.txt", "10.0.0.5", 1)});
    WiFiPhoneView view(r.all());
    r.peers.touch("10.0.0.5", QString("Pixel"));
    const std::optional<QString> token = r.peers.verifyPIN("10.0.0.5", r.peers.peers().first().pin);
    ASSERT_TRUE(token);
    r.peers.setSelectedPeerHost(QString("10.0.0.5"));
    QPointer<ConnectedDeviceView> page = view.page();
    ASSERT_FALSE(page.isNull());
    page->queueFiles({"/tmp/a.bin"});
    QPointer<SendToPhoneSheet> sheet = page->sendSheet();
    ASSERT_FALSE(sheet.isNull());
    QStringList shown;
    for (auto signal :
         {&WiFiPeerRegistry::peersChanged, &WiFiPeerRegistry::selectedPeerHostChanged})
        QObject::connect(&r.peers, signal, &view, [&] {
            shown << (view.page() ? view.page()->peer().host : QString("none"));
        });

    r.peers.touch("10.0.0.6", QString("Pixel"));
    ASSERT_TRUE(r.peers.verifyToken("10.0.0.6", *token));
    EXPECT_EQ(shown, QStringList({"10.0.0.5", "10.0.0.6", "10.0.0.6"}));
    EXPECT_EQ(view.page(), page.data());
    EXPECT_EQ(page->sendSheet(), sheet.data());
    EXPECT_EQ(page->peer().host, "10.0.0.6");
    const QList<QLabel*> labels = sheet->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                            [](const QLabel* label) { return label->text() == "10.0.0.6"; }));
    page->model()->applyChanges();
    ASSERT_EQ(page->model()->pendingFiles().size(), 1);
    EXPECT_EQ(page->model()->pendingFiles().first().recipientHost, "10.0.0.6");
    EXPECT_TRUE(page->model()->activity().isEmpty()); // the history stays with its address

    // Moving onto an address where another paired phone's older record stays, the page may come
    // to show that record; the sheet stays with the phone its file was queued for.
    r.peers.setPeers(QList<WiFiPeer>{{"10.0.0.7", "Tab", "1", "tab", {}}} + r.peers.peers());
    ASSERT_TRUE(r.peers.verifyToken("10.0.0.7", *token));
    EXPECT_EQ(sheet->windowTitle(), "Send to Pixel");
    EXPECT_EQ(r.pending.files().first().recipientHost, "10.0.0.7");
}

} // namespace
} // namespace qb
