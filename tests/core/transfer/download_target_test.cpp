#include "core/transfer/download_target.h"

#include "engine_test_support.h"

#include <QDateTime>

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

} // namespace
} // namespace qb::test
