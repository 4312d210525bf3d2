#pragma once

#include "core/transfer/transfer_queue_actor.h"
#include "engine_test_support.h"
#include "fake_file_repository.h"

#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

namespace qb::test {

// An engine over a fake repository, with a fake clock, in-memory preferences and a temporary
// download folder; publications are recorded from the start.
class EngineFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    void makeEngine(bool installProvider = true);
    RepositoryProvider provider();
    QString downloads() const { return m_downloads.path(); }
    std::shared_ptr<FakeFileRepository::Call> held(const QString& operation, int index = 0);
    // Log lines of the "Transfer" category so far.
    QStringList transferLog() const;

    FakeClock clock;
    std::shared_ptr<MemoryPreferenceStore> preferences = std::make_shared<MemoryPreferenceStore>();
    std::shared_ptr<FakeFileRepository> repository = std::make_shared<FakeFileRepository>();
    std::unique_ptr<TransferQueueActor> engine;
    std::unique_ptr<PublicationRecorder> recorder;

private:
    QTemporaryDir m_downloads;
    mutable std::mutex m_logMutex;
    QStringList m_log;
};

} // namespace qb::test
