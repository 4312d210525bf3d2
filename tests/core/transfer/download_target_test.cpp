#include "core/transfer/download_target.h"
#include "core/transfer/transfer_preferences.h"

#include "engine_test_support.h"

#include <QDateTime>
#include <QSet>

namespace qb::test {
namespace {

// Guards against a half-written file replacing a whole one, a download replacing a folder, crash
// leftovers piling up (nothing but old leftovers may ever be removed) and hostile names leaving the
// folder or addressing it. Free names count up before the last extension.
TEST(DownloadTarget, OverwritesOnlyWholeFilesStaysInsideTheFolderAndFindsFreeNames)
{
    QTemporaryDir dir;
    for (const QString name :
         {".quillbay-new.part", ".quillbay-old.part", ".quillbay-.txt", "o.part"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        if (!name.contains("new"))
            file.setFileTime(QDateTime::currentDateTime().addDays(-2), QFile::FileModificationTime);
    }
    writeFile(dir.filePath("photo.jpg"), "old");
    DownloadTarget target(dir.path(), "photo.jpg", OverwriteRule::Overwrite);
    ASSERT_TRUE(target.prepare());
    writeFile(target.temporaryPath(), "half");
    EXPECT_EQ(readFile(dir.filePath("photo.jpg")), "old") << "still there while downloading";
    writeFile(target.temporaryPath(), "complete");
    ASSERT_TRUE(target.commit());
    EXPECT_EQ(readFile(dir.filePath("photo.jpg")), "complete");
    EXPECT_EQ(entries(dir.path()),
              QStringList({".quillbay-.txt", ".quillbay-new.part", "o.part", "photo.jpg"}));

    const auto save = [](const QString& folder, const QString& name, OverwriteRule rule) {
        DownloadTarget saved(folder, name, rule);
        EXPECT_TRUE(saved.prepare());
        writeFile(saved.temporaryPath(), "x");
        EXPECT_TRUE(saved.commit());
        return saved.finalPath();
    };
    ASSERT_TRUE(QDir(dir.path()).mkpath("photos"));
    EXPECT_EQ(save(dir.path(), "photos", OverwriteRule::Overwrite), dir.filePath("photos (1)"));
    EXPECT_TRUE(QFileInfo(dir.filePath("photos")).isDir());

    const QString inbox = dir.filePath("inbox");
    for (const QString name : {"..", "../escape", "", ".", "...", R"(/\:*?"<>|)", "Ü:.jpg"})
        save(inbox, name, OverwriteRule::Ask);
    EXPECT_EQ(entries(inbox), QStringList({"...", ".._escape", "Untitled", "Untitled (1)",
                                           "Untitled (2)", "_________", "Ü_.jpg"}));
    EXPECT_EQ(entries(dir.path()).size(), 7) << "nothing escaped the inbox";

    for (const auto& [name, free] : {std::pair{"notes", "notes (1)"},
                                     {"archive.tar.gz", "archive.tar (1).gz"},
                                     {".profile", ".profile (1)"}}) {
        writeFile(dir.filePath(name), "x");
        EXPECT_EQ(DownloadTarget::uniqueDestination(dir.filePath(name)), dir.filePath(free));
    }

    // A folder that cannot be created fails with its path.
    writeFile(dir.filePath("plain"), "a file where a folder should be");
    try {
        DownloadTarget(dir.filePath("plain/sub"), "a.txt", OverwriteRule::Ask).prepare();
        ADD_FAILURE() << "prepare() should throw";
    } catch (const TransferError& e) {
        EXPECT_TRUE(e.localizedMessage.contains(dir.filePath("plain/sub")));
    }
}

TEST(TransferPreferences, BadStoredValuesReadAsDefaultsAndAreNotRewritten)
{
    QTemporaryDir dir;
    QSettingsPreferenceStore store(dir.filePath("prefs.ini"));
    TransferPreferences prefs(store);
    store.setValue("downloadFolder", QStringList{"a", "b"});
    store.setValue("overwriteRule", "Overwrite");
    store.setValue("showQuickAccess", "maybe");
    EXPECT_EQ(prefs.downloadFolder(), QString());
    // The raw text goes to the engine as stored; as a rule it counts as "ask".
    EXPECT_EQ(prefs.overwriteRuleText(), "Overwrite");
    EXPECT_EQ(prefs.overwriteRule(), OverwriteRule::Ask);
    EXPECT_TRUE(prefs.showQuickAccess());
    EXPECT_EQ(store.value("downloadFolder")->toStringList(), (QStringList{"a", "b"}));
    EXPECT_EQ(store.value("showQuickAccess")->toString(), "maybe");

    // Parallel transfers stay within one to eight.
    for (const QVariant& stored : {QVariant("many"), QVariant(0), QVariant(9), QVariant(2.5)}) {
        store.setValue("parallelTransfers", stored);
        EXPECT_EQ(prefs.parallelTransfers(), 2) << stored.toString().toStdString();
    }
    EXPECT_EQ(store.value("parallelTransfers")->toDouble(), 2.5);
    store.setValue("parallelTransfers", 8);
    EXPECT_EQ(prefs.parallelTransfers(), 8);
    prefs.setParallelTransfers(12);
    EXPECT_EQ(prefs.parallelTransfers(), 8);
    prefs.setParallelTransfers(0);
    EXPECT_EQ(prefs.parallelTransfers(), 1);
}

TEST(TransferJob, EndpointsOfDifferentKindsNeverMatch)
{
    const auto phone = TransferEndpoint::android("dev", "1/2", "a.jpg");
    TransferEndpoint local = phone; // a local endpoint whose leftover fields match
    local.kind = TransferEndpoint::Kind::Local;
    EXPECT_NE(local, phone);
    EXPECT_EQ(
        (QSet<TransferEndpoint>{phone, local, TransferEndpoint::android("dev", "1/2", "a.jpg")}
             .size()),
        2);
    EXPECT_FALSE(fileSize(QUrl::fromLocalFile("/nonexistent/a.bin")));
    EXPECT_FALSE(fileSize(QUrl("https://example.invalid/a.bin")));
}

} // namespace
} // namespace qb::test
