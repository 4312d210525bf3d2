#include "browsing/device_sidebar_controller.h"
#include "browsing/device_sidebar_model.h"
#include "platform/app_paths.h"
#include "ui_common/file_manager.h"
#include "ui_test_support.h"
#include "wifi/registry_server_backend.h"
#include "wifi/server_test_support.h"
#include "wifi/wifi_advertiser.h"
#include "wifi_ui/connected_device_view.h"
#include "wifi_ui/phone_page_model.h"
#include "wifi_ui/send_to_phone_sheet.h"
#include "wifi_ui/wifi_pairing_prompt_view.h"
#include "wifi_ui/wifi_phone_view.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>

#include <gtest/gtest.h>

namespace qb {
namespace {

class RecordingFileManager : public FileManager
{
public:
    void showItem(const QString& path) override { shown << path; }
    bool open(const QString& path) override
    {
        opened << path;
        return true;
    }
    QStringList shown;
    QStringList opened;
};

// A phone on 127.0.0.2: one request per connection, the whole reply back.
QByteArray phone(quint16 port, const QByteArray& request)
{
    return test::runAsPhone<QByteArray>([&] {
        test::RawClient client(port, "127.0.0.2");
        return client.connected() && client.send(request) ? client.read() : QByteArray();
    });
}

TEST(WiFiUiEndToEnd, PairSendAndReceiveThroughThePage)
{
    test::TestRegistries r;
    test::LogCapture logs;
    RecordingFileManager files;
    FileManager::setShared(&files);
    RegistryServerBackend backend(r.peers, r.pending, r.received, r.sent);
    // Uploads go where the application puts them: Downloads/Quillbay of this test's own home.
    WiFiAdvertiser server(backend, nullptr, WiFiAdvertiser::Options{});
    server.start();
    ASSERT_TRUE(server.port().has_value());
    const quint16 port = *server.port();
    DeviceSidebarController sidebar(nullptr, &r.peers);
    DeviceSidebarModel sidebarRows(sidebar);
    WiFiPhoneView view(r.all());
    view.resize(900, 600);
    view.show();

    // The phone touches the server and its row appears in the sidebar, with its PIN; a click
    // on the row shows the prompt.
    phone(port, "GET /status HTTP/1.1\r\nX-Device-Name: Pixel 8\r\n\r\n");
    const QModelIndex wifi = sidebarRows.index(DeviceSidebarModel::WifiSection, 0);
    const auto row = [&] {
        return sidebarRows.index(0, 0, wifi);
    };
    ASSERT_TRUE(test::waitUntil(
        [&] { return DeviceSidebarModel::kindOf(row()) == DeviceSidebarModel::Kind::Peer; }));
    const WiFiPeer seen = *sidebarRows.peerAt(row());
    EXPECT_EQ(row().data(DeviceSidebarModel::IdRole).toString(), "127.0.0.2");
    EXPECT_EQ(row().data(DeviceSidebarModel::PinRole).toString(), seen.pin);
    EXPECT_FALSE(seen.token.has_value());
    sidebar.selectPeer(seen);
    ASSERT_NE(view.prompt(), nullptr);
    EXPECT_EQ(view.prompt()->pinShown(), seen.pin.left(3) + " " + seen.pin.mid(3));

    const QByteArray pair = "{\"pin\":\"" + seen.pin.toUtf8() + "\"}";
    const QByteArray paired = phone(port, "POST /pair HTTP/1.1\r\nX-Device-Name: Pixel 8\r\n"
                                          "Content-Length: " +
                                              QByteArray::number(pair.size()) + "\r\n\r\n" + pair);
    ASSERT_TRUE(paired.startsWith("HTTP/1.1 200")) << paired.constData();
    ASSERT_TRUE(test::waitUntil([&] { return view.page() != nullptr; }));
    ConnectedDeviceView* page = view.page();

    // A file sent from the page: the phone lists it, fetches it byte for byte, the sheet ends
    // delivered and the history shows it.
    QTemporaryDir source;
    const QString local = QDir(source.path()).filePath("holiday notes.txt");
    QByteArray content(700'000, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char((i * 13) ^ (i >> 7));
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    page->queueFiles({local});
    SendToPhoneSheet* sheet = page->sendSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->titleShown(), "Accept the file on your phone");
    EXPECT_TRUE(test::waitUntil([&] { return page->model()->pendingFiles().size() == 1; }));

    const QJsonArray offered =
        QJsonDocument::fromJson(test::bodyOf(phone(port, "GET /pending HTTP/1.1\r\n\r\n")))
            .object()
            .value("files")
            .toArray();
    ASSERT_EQ(offered.size(), 1);
    const QByteArray id = offered[0].toObject().value("id").toString().toUtf8();
    EXPECT_EQ(test::bodyOf(phone(port, "GET /download?id=" + id + " HTTP/1.1\r\n\r\n")), content);
    ASSERT_TRUE(test::waitUntil(
        [&] { return sheet->model().state() == SendToPhoneSheetModel::State::Done; }));
    EXPECT_EQ(sheet->titleShown(), "Sent successfully");
    EXPECT_EQ(sheet->model().subtitleText("Pixel 8"), "1 file delivered.");
    EXPECT_FALSE(sheet->isTicking());
    sheet->footerButton()->click();
    ASSERT_TRUE(test::waitUntil([&] { return page->sendSheet() == nullptr; }));

    // An upload from the phone appears in the history, in the folder "Open Folder" opens.
    const QByteArray photo("not really a photo");
    phone(port, "POST /upload HTTP/1.1\r\nX-File-Name: my%20photo.jpg\r\nX-Device-Name: Pixel "
                "8\r\nContent-Length: " +
                    QByteArray::number(photo.size()) + "\r\n\r\n" + photo);
    ASSERT_TRUE(test::waitUntil([&] { return page->model()->activity().size() == 2; }));
    const QList<TransferEntry> activity = page->model()->activity();
    EXPECT_TRUE(activity[0].isReceived());
    EXPECT_EQ(activity[0].subtitle(), "Received \u2022 from Pixel 8");
    EXPECT_EQ(activity[1].url(), QUrl::fromLocalFile(local));
    const QString saved = activity[0].url().toLocalFile();
    EXPECT_EQ(QFileInfo(saved).fileName(), "my photo.jpg");
    EXPECT_TRUE(saved.startsWith(QDir::homePath())); // this test's own home, not the user's

    page->openReceiveFolder();
    ASSERT_EQ(files.opened.size(), 1);
    EXPECT_EQ(QFileInfo(files.opened[0]).canonicalFilePath(), QFileInfo(saved).canonicalPath());
    page->revealInFileManager(activity[0]);
    EXPECT_EQ(files.shown, QStringList{saved});
    page->copyPath(activity[0]);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), saved); // spaces, not percent escapes

    FileManager::setShared(nullptr);
    QDir(AppPaths::receivedFilesFolder()).removeRecursively();
}

} // namespace
} // namespace qb
