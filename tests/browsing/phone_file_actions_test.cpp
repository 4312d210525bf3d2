#include "browsing/file_item_format.h"
#include "browsing/file_list_menu.h"
#include "browsing/phone_file_actions.h"
#include "browsing/rename_sheet.h"
#include "browsing_fakes.h"
#include "platform/preference_store.h"

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;
using Content = PhoneFileActions::Content;
using Action = FileMenuEntry::Action;

namespace {

class MapPreferences : public PreferenceStore
{
public:
    QHash<QString, QVariant> values;
    std::optional<QVariant> value(const QString& key) const override
    {
        return values.contains(key) ? std::optional(values.value(key)) : std::nullopt;
    }
    void setValue(const QString& key, const QVariant& value) override { values.insert(key, value); }
};

TEST(PhoneFileActionsTest, JobsNameTheGivenPhoneAndFolder)
{
    const QList<FileItem> items{folder("1/2", "DCIM"), file("1/3", "a.jpg", 1200)};
    const auto downloads = PhoneFileActions::downloadJobs("dev", items, "/tmp/dl");
    ASSERT_EQ(downloads.size(), 2);
    EXPECT_EQ(downloads[0].source, TransferEndpoint::android("dev", "1/2", "DCIM"));
    EXPECT_EQ(downloads[0].totalBytes, 0);
    EXPECT_EQ(downloads[1].destination, TransferEndpoint::local(QUrl::fromLocalFile("/tmp/dl")));
    EXPECT_EQ(downloads[1].totalBytes, 1200);
    EXPECT_TRUE(PhoneFileActions::downloadJobs("", items, "/tmp").isEmpty());

    const auto deletions = PhoneFileActions::deleteJobs("dev", items);
    ASSERT_EQ(deletions.size(), 2);
    EXPECT_EQ(deletions[1].type, TransferType::Delete);
    EXPECT_EQ(deletions[1].source, deletions[1].destination);

    const auto created = PhoneFileActions::createFolderJob("dev", "1/2", "  ");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->destination, TransferEndpoint::android("dev", "1/2", "  "));
    EXPECT_FALSE(PhoneFileActions::createFolderJob("dev", "1/2", ""));
    EXPECT_FALSE(PhoneFileActions::createFolderJob("dev", "", "x"));

    MapPreferences preferences;
    EXPECT_FALSE(PhoneFileActions::downloadFolder(&preferences).isEmpty());
    preferences.values.insert("downloadFolder", "/not/there/yet");
    EXPECT_EQ(PhoneFileActions::downloadFolder(&preferences), "/not/there/yet");
}

TEST(PhoneFileActionsTest, FinishedJobsReloadOnlyWhenACompletedJobTouchedThePhone)
{
    auto job = [](TransferStatus status, TransferEndpoint source, TransferEndpoint destination) {
        TransferJob made = TransferJob::make(TransferType::Copy, source, destination);
        made.status = status;
        return made;
    };
    const auto local = TransferEndpoint::local(QUrl::fromLocalFile("/tmp/x"));
    const auto onA = TransferEndpoint::android("A", "1/2", "x");
    const auto onB = TransferEndpoint::android("B", "1/2", "x");
    EXPECT_TRUE(PhoneFileActions::touchesDevice({job(TransferStatus::Completed, local, onA)}, "A"));
    EXPECT_TRUE(PhoneFileActions::touchesDevice({job(TransferStatus::Completed, onA, local)}, "A"));
    EXPECT_TRUE(PhoneFileActions::touchesDevice({job(TransferStatus::Completed, onA, onB)}, "A"));
    EXPECT_FALSE(PhoneFileActions::touchesDevice({job(TransferStatus::Failed, local, onA)}, "A"));
    EXPECT_FALSE(
        PhoneFileActions::touchesDevice({job(TransferStatus::Completed, local, onB)}, "A"));
    EXPECT_FALSE(PhoneFileActions::touchesDevice({job(TransferStatus::Completed, local, onA)}, ""));
}

TEST(PhoneFileActionsTest, ContentFollowsTheSidebarsSelection)
{
    struct Case
    {
        bool force, device, peer, storage;
        Content expected;
    };
    const Case cases[] = {
        {true, false, true, false, Content::SetupGuide},
        {false, false, true, false, Content::WiFiPhone},
        {false, false, false, false, Content::SetupGuide},
        {true, true, false, false, Content::NoStorage},
        {false, true, true, true, Content::Files},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PhoneFileActions::chooseContent(c.force, c.device, c.peer, c.storage),
                  c.expected);
}

QList<Action> actionsOf(const QList<FileMenuEntry>& entries)
{
    QList<Action> actions;
    for (const auto& entry : entries)
        actions.append(entry.action);
    return actions;
}

TEST(FileListMenuTest, EntriesFollowTheSetAndTheItem)
{
    const FileItem dir = folder("1", "DCIM");
    const FileItem pic = file("2", "a.jpg");
    const auto sep = Action::Separator;
    EXPECT_EQ(actionsOf(FileListMenu::forTable({}, {}, false)), QList<Action>{Action::NewFolder});
    EXPECT_EQ(actionsOf(FileListMenu::forTable({}, {}, true)),
              QList<Action>({Action::NewFolder, sep, Action::Paste}));
    const auto single = FileListMenu::forTable({"1"}, {dir}, false);
    EXPECT_EQ(actionsOf(single), QList<Action>({Action::Open, sep, Action::Download, Action::Copy,
                                                Action::Rename, sep, Action::Delete}));
    EXPECT_EQ(single.first().label, "Open");
    EXPECT_EQ(FileListMenu::forTable({"2"}, {pic}, false).first().label, "Preview");
    // Two ids of which one is shown: neither Open nor Rename.
    EXPECT_EQ(actionsOf(FileListMenu::forTable({"2", "gone"}, {pic}, false)),
              QList<Action>({Action::Download, Action::Copy, sep, Action::Delete}));
    EXPECT_TRUE(FileListMenu::forTable({"gone"}, {}, false).isEmpty());
    EXPECT_EQ(FileListMenu::forTile(pic).size(), 7);
    EXPECT_TRUE(FileListMenu::forTile(pic).last().destructive);
}

TEST(FileItemFormatTest, CellsShowDashesSizesAndKinds)
{
    EXPECT_EQ(FileItemFormat::sizeText(folder("1", "x")), "\u2014");
    EXPECT_EQ(FileItemFormat::sizeText(file("1", "x")), "\u2014");
    EXPECT_EQ(FileItemFormat::sizeText(file("1", "x", 0)), "Zero KB");
    EXPECT_EQ(FileItemFormat::sizeText(file("1", "x", 1500000)), "1.5 MB");
    EXPECT_EQ(FileItemFormat::dateText(file("1", "x")), "\u2014");
    EXPECT_FALSE(
        FileItemFormat::dateText(file("1", "x", 1, QDateTime::currentDateTime())).isEmpty());
    EXPECT_EQ(FileItemFormat::kindText(file("1", "photo.Jpeg")), "JPEG");
    EXPECT_EQ(FileItemFormat::kindText(file("1", "README")), "");
    EXPECT_EQ(FileItemFormat::kindText(file("1", "archive.tar.GZ")), "GZ");
    EXPECT_EQ(FileItemFormat::kindText(folder("1", "photos.2024")), "Folder");
}

TEST(RenameSheetTest, NamesThePhoneCannotTakeAreRefusedWithAReason)
{
    for (const QString& bad :
         {QString("a/b"), QString("."), QString(".."), QString("a") + QChar(0)})
        EXPECT_TRUE(RenameSheet::problemWithName(bad)) << bad.toStdString();
    for (const QString& good :
         {QString("   "), QString("..."), QString("a.b"), QString("\u05d0 🙂")})
        EXPECT_FALSE(RenameSheet::problemWithName(good)) << good.toStdString();
}

} // namespace
