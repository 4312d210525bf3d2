#include "core/device/move_file_use_case.h"
#include "core/device/upload_file_use_case.h"
#include "fake_file_repository.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace qb {
namespace {

FileItem phoneFile(const QString& name)
{
    FileItem item;
    item.id = item.path = "65537/12";
    item.name = name;
    return item;
}

std::optional<FileRepositoryError::Kind> kindOf(QFuture<void> future)
{
    try {
        future.waitForFinished();
    } catch (const FileRepositoryError& e) {
        return e.kind();
    }
    return std::nullopt;
}

class FileUseCasesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        // Copies go through the cache folder, never the often RAM-backed temporary folder.
        qputenv("TMPDIR", m_temp.filePath("tmp").toUtf8());
        qputenv("XDG_CACHE_HOME", m_temp.filePath("cache").toUtf8());
    }
    void TearDown() override
    {
        qunsetenv("TMPDIR");
        qunsetenv("XDG_CACHE_HOME");
        const auto flags = QDir::AllEntries | QDir::NoDotAndDotDot;
        EXPECT_TRUE(QDir(m_temp.filePath("cache")).entryList(flags).isEmpty());
        EXPECT_TRUE(QDir(m_temp.filePath("tmp")).entryList(flags).isEmpty());
    }

    // A phone that refuses moves, with one file, failing `step` as well.
    static std::shared_ptr<FakeFileRepository> phone(const QString& step = {})
    {
        auto repo = std::make_shared<FakeFileRepository>();
        repo->files.insert("65537/12", "twelve bytes");
        repo->failures.insert("move",
                              std::make_exception_ptr(FileRepositoryError::moveNotSupported()));
        if (!step.isEmpty())
            repo->failures.insert(
                step, std::make_exception_ptr(FileRepositoryError::transferFailed(step)));
        return repo;
    }

    QTemporaryDir m_temp;
};

TEST_F(FileUseCasesTest, MoveCopiesOnlyWhenRefusedAndAFailedStepKeepsTheSource)
{
    // A move the repository performs is done; a refusal other than "not supported" is passed on.
    for (const auto& failure :
         {std::exception_ptr(), std::make_exception_ptr(FileRepositoryError::accessDenied("x"))}) {
        auto repo = std::make_shared<FakeFileRepository>();
        repo->failures.insert("move", failure);
        EXPECT_EQ(kindOf(MoveFileUseCase(repo).execute(phoneFile("a"), "65537/40", false, {})),
                  failure ? std::optional(FileRepositoryError::Kind::AccessDenied) : std::nullopt);
        EXPECT_EQ(repo->calls(), QStringList{"move 65537/12 -> 65537/40"});
    }
    // The upload fails: no deletion. The deletion fails: both copies stay.
    for (const char* step : {"upload", "delete"}) {
        SCOPED_TRACE(step);
        auto repo = phone(step);
        EXPECT_EQ(kindOf(MoveFileUseCase(repo).execute(phoneFile("n.txt"), "65537/40", false, {})),
                  FileRepositoryError::Kind::TransferFailed);
        EXPECT_TRUE(repo->files.contains("65537/12"));
        EXPECT_EQ(repo->uploaded.contains("65537/40/n.txt"), QString(step) == "delete");
        EXPECT_TRUE(repo->calls().last().startsWith(step));
    }
}

// Guards against a phone-supplied name writing outside the private temporary folder.
TEST_F(FileUseCasesTest, HostileNamesStayInsideTheTemporaryFolder)
{
    EXPECT_EQ(MoveFileUseCase::temporaryFileName("../../evil"), ".._.._evil");
    for (const char* name : {"..", ".", ""})
        EXPECT_EQ(MoveFileUseCase::temporaryFileName(name), "item");

    auto repo = phone();
    MoveFileUseCase(repo).execute(phoneFile("../evil"), "65537/40", true, {}).waitForFinished();
    EXPECT_FALSE(QFile::exists(QDir(m_temp.path()).filePath("evil")));
    ASSERT_EQ(repo->downloadedTo.size(), 1);
    EXPECT_TRUE(repo->downloadedTo[0].endsWith("/.._evil"));
    EXPECT_EQ(repo->uploaded.value("65537/40/.._evil"), "twelve bytes");
}

TEST_F(FileUseCasesTest, UploadOfAMissingLocalFileFailsBeforeTheDeviceIsAsked)
{
    auto repo = phone();
    const QString missing = QDir(m_temp.path()).filePath("gone.txt");
    EXPECT_EQ(kindOf(UploadFileUseCase(repo).execute(missing, "65537/0", {})),
              FileRepositoryError::Kind::ItemNotFound);
    EXPECT_TRUE(repo->calls().isEmpty());
}

} // namespace
} // namespace qb
