#include "browsing/drop_decisions.h"
#include "browsing/phone_item_transferable.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace qb;

namespace {

PhoneItemTransferable phoneItem(const QString& device, const QString& path, const QString& folder,
                                std::optional<qint64> size = std::nullopt)
{
    return {FileItem{path, "item-" + path, path, !size, size, std::nullopt, std::nullopt}, device,
            folder};
}

// One line per job: type, source > destination (a local end by its file name), byte count.
QStringList describe(const DropPlan& plan)
{
    const auto end = [](const TransferEndpoint& e) {
        return e.kind == TransferEndpoint::Kind::Local ? e.url.toLocalFile().section('/', -1)
                                                       : e.deviceId + ":" + e.path + ":" + e.name;
    };
    QStringList out;
    for (const TransferJob& job : plan.jobs)
        out.append(toText(job.type) + " " + end(job.source) + " > " + end(job.destination) + " " +
                   QString::number(job.totalBytes));
    return out;
}

PhoneItemTransferable payload(std::optional<qint64> size, bool withDate, bool withMime)
{
    FileItem item{"65537/12", "report.pdf", "65537/12", false, size, std::nullopt, std::nullopt};
    if (withDate)
        item.modifiedAt = QDateTime(QDate(2024, 5, 1), QTime(10, 30, 15, 250), QTimeZone::utc());
    if (withMime)
        item.mimeType = QStringLiteral("application/pdf");
    return {item, "dev-1", "65537/7"};
}

class DropDecisionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const auto& [name, bytes] :
             {std::pair{"photo.jpg", "12345"}, std::pair{"two\nlines.txt", ""}}) {
            QFile file(m_dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        ASSERT_TRUE(QDir(m_dir.path()).mkdir("album"));
    }
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(m_dir.filePath(name)); }

    QTemporaryDir m_dir;
};

TEST_F(DropDecisionsTest, PhonePaneDropTurnsFilesIntoUploadsAndItemsIntoMovesOrCopies)
{
    DropContent content;
    content.urls = {url("photo.jpg"), QUrl::fromLocalFile(m_dir.path() + "/album/"),
                    url("gone.txt"), QUrl("https://example.org/a.txt"), url("two\nlines.txt")};
    content.phoneItems = {phoneItem("A", "1/5", "1/0", 7), phoneItem("A", "1/6", "1/9"),
                          phoneItem("B", "2/5", "2/0", 3)};
    const PhoneDropTarget target{"A", "1/9"};

    const DropPlan move = planPhonePaneDrop(target, content, false);
    EXPECT_EQ(describe(move),
              (QStringList{"upload photo.jpg > A:1/9:photo.jpg 5",
                           "upload album > A:1/9:album " +
                               QString::number(QFileInfo(m_dir.filePath("album")).size()),
                           "upload two\nlines.txt > A:1/9:two\nlines.txt 0",
                           "move A:1/5:item-1/5 > A:1/9:item-1/5 7"}));
    EXPECT_EQ(move.showQueueRequests, 3); // per uploaded file, none for phone items
    // The file of phone B goes through the computer; no job names phone A at both ends.
    ASSERT_EQ(move.crossPhoneCopies.size(), 1);
    EXPECT_EQ(move.crossPhoneCopies[0].fileItem.path, "2/5");
    EXPECT_TRUE(move.refusals.isEmpty());

    const DropPlan copy = planPhonePaneDrop(target, content, true);
    EXPECT_EQ(describe(copy).last(), "copy A:1/5:item-1/5 > A:1/9:item-1/5 7");

    // The own-folder skip is for the same phone only: phone B's "1/9" is another folder. A folder
    // of another phone is refused with a message.
    DropContent other;
    other.phoneItems = {phoneItem("B", "1/6", "1/9", 4), phoneItem("B", "1/7", "1/9")};
    const DropPlan across = planPhonePaneDrop(target, other, false);
    EXPECT_TRUE(across.jobs.isEmpty());
    EXPECT_EQ(across.crossPhoneCopies.size(), 1);
    ASSERT_EQ(across.refusals.size(), 1);
    EXPECT_TRUE(across.refusals[0].contains("item-1/7"));

    // An item of an earlier phone that had the shown phone's id is of another phone too: it is
    // fetched from its own phone (which is gone, so the copy fails), never moved on this one.
    DropContent earlier;
    earlier.phoneItems = {phoneItem("A", "1/5", "1/0", 7)};
    earlier.phoneItems[0].attachment = 1;
    const DropPlan stale = planPhonePaneDrop(PhoneDropTarget{"A", "1/9", 2}, earlier, false);
    EXPECT_TRUE(stale.jobs.isEmpty());
    ASSERT_EQ(stale.crossPhoneCopies.size(), 1);
    EXPECT_EQ(stale.crossPhoneCopies[0].attachment, 1u);
    EXPECT_EQ(stale.targetAttachment, 2u);

    // No folder listed or no phone shown: nothing is queued.
    for (const PhoneDropTarget& unknown : {PhoneDropTarget{"A", ""}, PhoneDropTarget{"", "1/9"}}) {
        const DropPlan none = planPhonePaneDrop(unknown, content, false);
        EXPECT_TRUE(none.jobs.isEmpty());
        EXPECT_EQ(none.showQueueRequests, 0);
    }
    EXPECT_TRUE(isCopyModifier(Qt::AltModifier));
    EXPECT_TRUE(isCopyModifier(Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_FALSE(isCopyModifier(Qt::ShiftModifier));
}

TEST_F(DropDecisionsTest, ComputerPaneDropDownloadsItemsAndUploadsFilesToTheStorageTop)
{
    DropContent content;
    content.urls = {url("photo.jpg"), url("missing.bin")};
    content.phoneItems = {phoneItem("A", "1/5", "1/0", 7), phoneItem("B", "2/8", "2/0"),
                          phoneItem("gone", "3/1", "3/0", 1)};
    const QString folder = m_dir.path();

    // The item of a phone that has gone is queued too: the engine then fails it visibly.
    const ComputerDropTarget selected{folder, "B", "2/0"};
    const DropPlan plan = planComputerPaneDrop(selected, content);
    const QString dir = QFileInfo(folder).fileName();
    EXPECT_EQ(describe(plan), (QStringList{"download A:1/5:item-1/5 > " + dir + " 7",
                                           "download B:2/8:item-2/8 > " + dir + " 0",
                                           "download gone:3/1:item-3/1 > " + dir + " 1",
                                           "upload photo.jpg > B:2/0:photo.jpg 5"}));
    EXPECT_EQ(plan.showQueueRequests, 4);
    EXPECT_TRUE(computerPaneAccepts(selected, content));

    // Without a storage the files are not taken; the phone items still are.
    const ComputerDropTarget noStorage{folder, "B", std::nullopt};
    EXPECT_EQ(planComputerPaneDrop(noStorage, content).jobs.size(), 3);
    DropContent filesOnly;
    filesOnly.urls = content.urls;
    EXPECT_FALSE(computerPaneAccepts(noStorage, filesOnly));
    EXPECT_TRUE(planComputerPaneDrop(noStorage, filesOnly).jobs.isEmpty());

    // No folder shown: nothing at all.
    EXPECT_TRUE(planComputerPaneDrop({"", "B", "2/0"}, content).jobs.isEmpty());
}

// Guards against a web link being taken as a drop (highlighted, then silently ignored), and
// against a drop on a phone pane that lists no folder being taken and lost.
TEST_F(DropDecisionsTest, OnlyFilesAndPhoneItemsAreAcceptedAndOnlyWhereAFolderIsListed)
{
    QMimeData link;
    link.setUrls({QUrl("https://example.org/photo.jpg"), QUrl("mailto:x@y")});
    QMimeData file;
    file.setUrls({QUrl("https://example.org/a"), url("photo.jpg")});
    QMimeData broken;
    broken.setData(PhoneItemTransferable::mimeType, "{broken");
    std::unique_ptr<QMimeData> item(PhoneItemTransferable::toMimeData({payload(5, false, false)}));
    const PhoneDropTarget listed{"A", "1/0"};
    const ComputerDropTarget storage{m_dir.path(), "A", "1/0"};

    for (const QMimeData* refused : {&link, &broken}) {
        const DropContent content = DropContent::from(*refused);
        EXPECT_FALSE(phonePaneAccepts(listed, content));
        EXPECT_FALSE(computerPaneAccepts(storage, content));
        EXPECT_TRUE(planComputerPaneDrop(storage, content).jobs.isEmpty());
    }
    for (const QMimeData* taken : {&file, item.get()}) {
        const DropContent content = DropContent::from(*taken);
        EXPECT_TRUE(phonePaneAccepts(listed, content));
        EXPECT_TRUE(computerPaneAccepts(storage, content));
        EXPECT_FALSE(phonePaneAccepts({"A", ""}, content));
        EXPECT_FALSE(phonePaneAccepts({"", "1/0"}, content));
    }
    EXPECT_EQ(describe(planPhonePaneDrop(listed, DropContent::from(file), false)),
              QStringList{"upload photo.jpg > A:1/0:photo.jpg 5"});
}

TEST_F(DropDecisionsTest, DropContentReadsUriListsAndPayloadsLineByLine)
{
    // A drag of phone items carries the payload alone, never file names.
    std::unique_ptr<QMimeData> drag(PhoneItemTransferable::toMimeData({payload(5, true, false)}));
    EXPECT_EQ(drag->formats(), QStringList{PhoneItemTransferable::mimeType});

    QMimeData data;
    data.setData("text/uri-list", "file://" + QUrl::toPercentEncoding(m_dir.path(), "/") +
                                      "/photo.jpg\r\n# a comment\r\nmailto:x@y\r\n");
    data.setData(PhoneItemTransferable::mimeType, payload(5, false, false).toJson() +
                                                      "\n{broken\n\n" +
                                                      payload(9, false, false).toJson());
    const DropContent content = DropContent::from(data);
    ASSERT_EQ(content.phoneItems.size(), 2);
    EXPECT_EQ(content.phoneItems[1].fileItem.size, 9);
    const DropPlan plan = planPhonePaneDrop({"A", "1/0"}, content, false);
    EXPECT_EQ(describe(plan), QStringList{"upload photo.jpg > A:1/0:photo.jpg 5"});

    data.setData(PhoneItemTransferable::mimeType, "garbage");
    EXPECT_TRUE(DropContent::from(data).phoneItems.isEmpty());
    QMimeData text;
    text.setText("just text");
    EXPECT_FALSE(phonePaneAccepts({"A", "1/0"}, DropContent::from(text)));
    EXPECT_TRUE(PhoneItemTransferable::fromMimeData(text).isEmpty());
}

TEST(PhoneItemTransferableTest, EncodesOptionalKeysOnlyWhenPresentAndRoundTrips)
{
    // A payload, and the keys left out of it.
    std::pair<PhoneItemTransferable, QStringList> cases[] = {
        {payload(0, true, true), {}}, // a zero size is written, not left out
        {payload(std::nullopt, false, false), {"size", "modifiedAt", "mimeType"}},
        {payload(1234567890123, false, true), {"modifiedAt"}},
        {payload(5, true, false), {"mimeType"}},
    };
    // The phone's attachment travels too, when it is known.
    cases[3].first.attachment = 18446744073709551615ull;
    for (const auto& [value, absentKeys] : cases) {
        const QByteArray json = value.toJson();
        const QJsonObject object = QJsonDocument::fromJson(json).object();
        EXPECT_EQ(object.keys().size(), value.attachment ? 4 : 3) << json.constData();
        const QJsonObject item = object.value("fileItem").toObject();
        for (const char* key : {"size", "modifiedAt", "mimeType"})
            EXPECT_EQ(item.contains(QLatin1String(key)), !absentKeys.contains(QLatin1String(key)))
                << key;

        // Every field comes back (encoded again, it reads the same), the time to the millisecond.
        const auto decoded = PhoneItemTransferable::fromJson(json);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->toJson(), json);
        EXPECT_EQ(decoded->fileItem.modifiedAt, value.fileItem.modifiedAt);
        EXPECT_EQ(decoded->attachment, value.attachment);
    }
}

TEST(PhoneItemTransferableTest, DecodesStrictly)
{
    const QByteArray item = R"({"id":"1/2","name":"a","path":"1/2","isDirectory":false)";
    // The text, and the folder it names when it decodes.
    const std::pair<QByteArray, std::optional<QString>> cases[] = {
        {"{\"fileItem\":" + item + "},\"deviceId\":\"d\"}", ""},
        {"{\"fileItem\":" + item + ",\"size\":null},\"deviceId\":\"d\",\"sourceFolderPath\":null}",
         ""},
        {"{\"fileItem\":" + item + "},\"deviceId\":\"d\",\"sourceFolderPath\":\"1/0\",\"x\":1}",
         "1/0"},
        {"{\"fileItem\":" + item + "},\"deviceId\":7}", {}},
        {"{\"fileItem\":" + item + "}}", {}},
        {"{\"deviceId\":\"d\"}", {}},
        {"{\"fileItem\":" + item + ",\"size\":\"12\"},\"deviceId\":\"d\"}", {}},
        {"{\"fileItem\":" + item + ",\"size\":1.5},\"deviceId\":\"d\"}", {}},
        {"{\"fileItem\":" + item + "},\"deviceId\":\"d\",\"sourceFolderPath\":3}", {}},
        {"{\"fileItem\":" + item + "},\"deviceId\":\"d\",\"attachment\":\"12\"}", ""},
        {"{\"fileItem\":" + item + "},\"deviceId\":\"d\",\"attachment\":12}", {}},
        {"{\"fileItem\":" + item + "},\"deviceId\":\"d\",\"attachment\":\"-1\"}", {}},
        {R"({"fileItem":{"id":"1/2","name":"a","path":"1/2"},"deviceId":"d"})", {}},
        {"[1,2]", {}},
        {"not json", {}},
        {"", {}},
    };
    for (const auto& [json, folder] : cases) {
        const auto decoded = PhoneItemTransferable::fromJson(json);
        EXPECT_EQ(decoded.has_value(), folder.has_value()) << json.constData();
        if (decoded) {
            EXPECT_EQ(decoded->sourceFolderPath, folder);
            EXPECT_FALSE(decoded->fileItem.size.has_value());
        }
    }
}

} // namespace
