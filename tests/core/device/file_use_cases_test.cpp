#include "core/device/move_file_use_case.h"
#include "core/device/mtp_error.h"
#include "core/device/upload_file_use_case.h"
#include "fake_file_repository.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace qb {
namespace {

FileItem phoneFile(const QString& path, const QString& name, bool isDirectory = false)
{
    FileItem item;
    item.id = path;
    item.path = path;
    item.name = name;
    item.isDirectory = isDirectory;
    return item;
}

FileRepositoryError::Kind kindOf(const QFuture<void>& future)
{
    try {
        QFuture<void>(future).waitForFinished();
    } catch (const FileRepositoryError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no FileRepositoryError";
    return FileRepositoryError::Kind::Unknown;
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
        m_repo->failures.insert("move",
                                std::make_exception_ptr(FileRepositoryError::moveNotSupported()));
        m_repo->files.insert("65537/12", "twelve bytes");
    }
    void TearDown() override
    {
        qunsetenv("TMPDIR");
        qunsetenv("XDG_CACHE_HOME");
    }

    // Anything a move or copy left in the cache or temporary folder.
    QStringList leftovers() const
    {
        const auto flags = QDir::AllEntries | QDir::NoDotAndDotDot;
        return QDir(m_temp.filePath("cache")).entryList(flags) +
               QDir(m_temp.filePath("tmp")).entryList(flags);
    }

    QTemporaryDir m_temp;
    std::shared_ptr<FakeFileRepository> m_repo = std::make_shared<FakeFileRepository>();
};

TEST_F(FileUseCasesTest, MoveAsksTheRepositoryFirstAndCopiesOnlyWhenItCannot)
{
    MoveFileUseCase(m_repo)
        .execute(phoneFile("65537/12", "notes.txt"), "65537/40", false, {})
        .waitForFinished();
    const QStringList calls = m_repo->calls();
    ASSERT_EQ(calls.size(), 4);
    EXPECT_EQ(calls[0], "move 65537/12 -> 65537/40");
    EXPECT_TRUE(calls[1].startsWith("download 65537/12"));
    EXPECT_TRUE(calls[2].startsWith("upload ") && calls[2].endsWith("/notes.txt -> 65537/40"));
    EXPECT_EQ(calls[3], "delete 65537/12");
    EXPECT_FALSE(m_repo->files.contains("65537/12"));
    EXPECT_TRUE(leftovers().isEmpty());

    // A move the repository performs is done; any other refusal is passed on.
    for (const auto& failure :
         {std::exception_ptr(), std::make_exception_ptr(FileRepositoryError::accessDenied("x"))}) {
        auto repo = std::make_shared<FakeFileRepository>();
        if (failure)
            repo->failures.insert("move", failure);
        QFuture<void> move =
            MoveFileUseCase(repo).execute(phoneFile("65537/12", "a"), "65537/40", false, {});
        if (failure)
            EXPECT_EQ(kindOf(move), FileRepositoryError::Kind::AccessDenied);
        else
            move.waitForFinished();
        EXPECT_EQ(repo->calls(), QStringList{"move 65537/12 -> 65537/40"});
    }
}

TEST_F(FileUseCasesTest, AFailedStepKeepsTheSourceAndRemovesTheTemporaryFolder)
{
    // The upload fails: no deletion. The deletion fails: both copies stay.
    for (const char* step : {"upload", "delete"}) {
        SCOPED_TRACE(step);
        auto repo = std::make_shared<FakeFileRepository>();
        repo->files.insert("65537/12", "twelve bytes");
        repo->failures.insert("move",
                              std::make_exception_ptr(FileRepositoryError::moveNotSupported()));
        repo->failures.insert(step,
                              std::make_exception_ptr(FileRepositoryError::transferFailed(step)));
        EXPECT_EQ(kindOf(MoveFileUseCase(repo).execute(phoneFile("65537/12", "notes.txt"),
                                                       "65537/40", false, {})),
                  FileRepositoryError::Kind::TransferFailed);
        EXPECT_TRUE(repo->files.contains("65537/12"));
        EXPECT_EQ(repo->uploaded.contains("65537/40/notes.txt"), QString(step) == "delete");
        EXPECT_EQ(repo->calls().last().startsWith(step), true);
        EXPECT_TRUE(leftovers().isEmpty());
    }
}

// Guards against a phone-supplied name writing outside the private temporary folder.
TEST_F(FileUseCasesTest, HostileNamesStayInsideTheTemporaryFolder)
{
    EXPECT_EQ(MoveFileUseCase::temporaryFileName("notes.txt"), "notes.txt");
    EXPECT_EQ(MoveFileUseCase::temporaryFileName("../../evil"), ".._.._evil");
    EXPECT_EQ(MoveFileUseCase::temporaryFileName(".."), "item");
    EXPECT_EQ(MoveFileUseCase::temporaryFileName("."), "item");
    EXPECT_EQ(MoveFileUseCase::temporaryFileName(""), "item");

    const QString outside = QDir(m_temp.path()).filePath("evil");
    MoveFileUseCase(m_repo)
        .execute(phoneFile("65537/12", "../evil"), "65537/40", true, {})
        .waitForFinished();
    EXPECT_FALSE(QFile::exists(outside));
    ASSERT_EQ(m_repo->downloadedTo.size(), 1);
    EXPECT_TRUE(m_repo->downloadedTo[0].endsWith("/.._evil"));
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(FileUseCasesTest, UploadOfAMissingLocalFileFailsBeforeTheDeviceIsAsked)
{
    const QString missing = QDir(m_temp.path()).filePath("gone.txt");
    try {
        UploadFileUseCase(m_repo).execute(missing, "65537/0", {}).waitForFinished();
        ADD_FAILURE() << "no error";
    } catch (const FileRepositoryError& e) {
        EXPECT_EQ(e.kind(), FileRepositoryError::Kind::ItemNotFound);
        EXPECT_EQ(e.message(), "Item not found: " + missing + ".");
    }
    EXPECT_TRUE(m_repo->calls().isEmpty());

    QFile file(missing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("here");
    file.close();
    UploadFileUseCase(m_repo).execute(missing, "65537/0", {}).waitForFinished();
    EXPECT_EQ(m_repo->uploaded.value("65537/0/gone.txt"), "here");
}

} // namespace
} // namespace qb
