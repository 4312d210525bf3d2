#include "browsing/drop_decisions.h"

#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qb;

namespace {

PhoneItemTransferable phoneItem(const QString& device, const QString& path, const QString& folder,
                                std::optional<qint64> size = std::nullopt)
{
    return {FileItem{path, "item-" + path, path, !size, size, std::nullopt, std::nullopt}, device,
            folder};
}

QString describe(const TransferJob& job)
{
    const auto end = [](const TransferEndpoint& e) {
        return e.kind == TransferEndpoint::Kind::Local ? e.url.toLocalFile().section('/', -1)
                                                       : e.deviceId + ":" + e.path + ":" + e.name;
    };
    return toText(job.type) + " " + end(job.source) + " > " + end(job.destination) + " " +
           QString::number(job.totalBytes);
}

QStringList describe(const DropPlan& plan)
{
    QStringList out;
    for (const TransferJob& job : plan.jobs)
        out.append(describe(job));
    return out;
}

class DropDecisionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QFile file(m_dir.filePath("photo.jpg"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("12345");
        file.close();
        ASSERT_TRUE(QDir(m_dir.path()).mkdir("album"));
        QFile odd(m_dir.filePath("two\nlines.txt"));
        ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
        odd.close();
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
    content.hasPhoneItems = true;
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
    EXPECT_EQ(move.targetDeviceId + " " + move.targetFolderPath, "A 1/9");
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
    content.hasPhoneItems = true;
    const QString folder = m_dir.path();

    const ComputerDropTarget selected{folder, "B", "2/0", {"A", "B"}};
    const DropPlan plan = planComputerPaneDrop(selected, content);
    const QString dir = QFileInfo(folder).fileName();
    EXPECT_EQ(describe(plan), (QStringList{"download A:1/5:item-1/5 > " + dir + " 7",
                                           "download B:2/8:item-2/8 > " + dir + " 0",
                                           "upload photo.jpg > B:2/0:photo.jpg 5"}));
    EXPECT_EQ(plan.showQueueRequests, 3);
    EXPECT_TRUE(computerPaneAccepts(selected, content));

    // Without a storage the files are not taken; the phone items still are.
    const ComputerDropTarget noStorage{folder, "B", std::nullopt, {"A", "B"}};
    EXPECT_EQ(planComputerPaneDrop(noStorage, content).jobs.size(), 2);
    DropContent filesOnly;
    filesOnly.urls = content.urls;
    EXPECT_FALSE(computerPaneAccepts(noStorage, filesOnly));
    EXPECT_TRUE(planComputerPaneDrop(noStorage, filesOnly).jobs.isEmpty());

    // No folder shown: nothing at all.
    EXPECT_TRUE(planComputerPaneDrop({"", "B", "2/0", {"A", "B"}}, content).jobs.isEmpty());
}

TEST_F(DropDecisionsTest, DropContentReadsUriListsAndPayloadsItemByItem)
{
    QMimeData data;
    data.setData("text/uri-list", "file://" + QUrl::toPercentEncoding(m_dir.path(), "/") +
                                      "/photo.jpg\r\n# a comment\r\nmailto:x@y\r\n");
    data.setData(PhoneItemTransferable::mimeType, "garbage");
    const DropContent content = DropContent::from(data);
    EXPECT_TRUE(content.hasPhoneItems);
    EXPECT_TRUE(content.phoneItems.isEmpty());
    const DropPlan plan = planPhonePaneDrop({"A", "1/0"}, content, false);
    EXPECT_EQ(describe(plan), QStringList{"upload photo.jpg > A:1/0:photo.jpg 5"});

    QMimeData text;
    text.setText("just text");
    EXPECT_FALSE(phonePaneAccepts(DropContent::from(text)));
}

} // namespace
