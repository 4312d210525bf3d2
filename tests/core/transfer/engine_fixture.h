#pragma once

#include "core/device/file_repository.h"
#include "engine_test_support.h"

#include <QPromise>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace qb::test {

// A repository whose operations succeed, or stay open until the test ends them, with a log of
// every call. Held operations make pause, cancel and resume races deterministic.
class FakeFileRepository : public FileRepository
{
public:
    struct Call
    {
        QString operation; // "list", "download", "upload", "createFolder", "delete", ...
        QString path;      // phone path; the local file for "upload"
        QString target;    // local file, destination folder, new name
        ProgressFn progress;
        QPromise<void> promise;
    };

    void setHold(const QString& operation, bool hold);
    // The next `count` calls of the operation fail with `reason` ("ENOSPC": the disk is full).
    void failNext(const QString& operation, int count, const QString& reason = "cable pulled");
    // Waits for the index-th call of an operation, or its first call on `path`; null on time-out.
    std::shared_ptr<Call> waitForCall(const QString& operation, int index = 0);
    std::shared_ptr<Call> waitForCall(const QString& operation, const QString& path);
    // Calls of the operation; of every operation for an empty one.
    int callCount(const QString& operation) const;
    // Ends a held call. A download writes downloadContent to its local file first.
    void succeed(Call& call);
    void fail(Call& call, const QString& reason = "cable pulled");
    // Fails every held call and every later one, so that no worker stays waiting.
    void shutDown();

    QByteArray downloadContent = "bytes from the phone";

    QFuture<QList<FileItem>> listFiles(const QString& folder) override;
    QFuture<void> downloadFile(const QString& path, const QString& local, ProgressFn p) override
    {
        return begin("download", path, local, std::move(p));
    }
    QFuture<void> uploadFile(const QString& local, const QString& folder, ProgressFn p) override
    {
        return begin("upload", local, folder, std::move(p));
    }
    QFuture<void> createFolder(const QString& name, const QString& parent) override
    {
        return begin("createFolder", parent, name, {});
    }
    QFuture<void> deleteItem(const QString& path) override { return begin("delete", path, {}, {}); }
    QFuture<void> renameItem(const QString& path, const QString& name) override
    {
        return begin("rename", path, name, {});
    }
    QFuture<void> moveItem(const QString& path, const QString& folder) override;

private:
    QFuture<void> begin(const QString& operation, const QString& path, const QString& target,
                        ProgressFn progress);

    mutable QMutex m_mutex;
    QList<std::shared_ptr<Call>> m_calls;
    QSet<QString> m_held;
    QHash<QString, QStringList> m_failures;
    bool m_shutDown = false;
};

// An engine over a fake repository, with a fake clock, in-memory preferences and a temporary
// download folder; publications are recorded from the start.
class EngineFixture : public ::testing::Test
{
protected:
    void SetUp() override { ensureApplication(); }
    void TearDown() override;

    void makeEngine(bool installProvider = true);
    RepositoryProvider provider();
    QString downloads() const { return m_downloads.path(); }
    std::shared_ptr<FakeFileRepository::Call> held(const QString& operation, int index = 0);

    FakeClock clock;
    std::shared_ptr<MemoryPreferenceStore> preferences = std::make_shared<MemoryPreferenceStore>();
    std::shared_ptr<FakeFileRepository> repository = std::make_shared<FakeFileRepository>();
    std::unique_ptr<TransferQueueActor> engine;
    std::unique_ptr<PublicationRecorder> recorder;

private:
    QTemporaryDir m_downloads;
};

} // namespace qb::test
