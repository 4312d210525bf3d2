#include "core/device/device_fakes.h"
#include "core/device/device_list_view_model.h"
#include "core/device/mtp_device_manager.h"
#include "core/transfer/transfer_queue_actor.h"
#include "engine_test_support.h"

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// The device list installs its provider in the engine the way the application wires them.
class DeviceListEngineTest : public ::testing::Test
{
protected:
    DeviceListEngineTest()
    {
        TransferQueueActor::Options options;
        options.preferences = std::make_shared<MemoryPreferenceStore>();
        m_engine = std::make_unique<TransferQueueActor>(options);
        m_recorder = std::make_unique<PublicationRecorder>(*m_engine);
        auto manager = std::make_unique<MTPDeviceManager>(
            std::make_shared<FakeDeviceLister>(), nullptr, MTPDeviceManager::Timing{1h, 1h});
        m_model = std::make_unique<DeviceListViewModel>(
            std::move(manager), m_factory, [engine = m_engine.get()](RepositoryProvider provider) {
                engine->setRepositoryProvider(std::move(provider));
            });
    }
    ~DeviceListEngineTest() override
    {
        m_model.reset();
        m_recorder.reset();
        m_engine.reset();
        QThreadPool::globalInstance()->waitForDone();
    }

    TransferJob deleteJob(const QString& deviceId)
    {
        return TransferJob::make(
            TransferType::Delete,
            TransferEndpoint::android(deviceId, QStringLiteral("65537/5"), QStringLiteral("a.jpg")),
            TransferEndpoint::android(deviceId, QStringLiteral("65537/0"), QString()));
    }

    std::shared_ptr<FakeRepositoryFactory> m_factory = std::make_shared<FakeRepositoryFactory>();
    std::unique_ptr<TransferQueueActor> m_engine;
    std::unique_ptr<PublicationRecorder> m_recorder;
    std::unique_ptr<DeviceListViewModel> m_model;
};

TEST_F(DeviceListEngineTest, JobReachesAPhoneThatWasNeverSelected)
{
    drainEvents(); // the installation is a queued call
    const TransferJob job = deleteJob(QStringLiteral("unknown_1_4"));
    ASSERT_TRUE(waitFor(m_engine->enqueue(job)));
    ASSERT_TRUE(m_recorder->waitForStatus(job.id, TransferStatus::Completed));

    const auto repository = std::static_pointer_cast<FakeRepository>(
        m_model->cachedRepository(QStringLiteral("unknown_1_4")));
    ASSERT_NE(repository, nullptr) << "the provider did not keep the repository it opened";
    EXPECT_EQ(repository->deleted(), QStringList{QStringLiteral("65537/5")});
    EXPECT_EQ(m_factory->opened(), QStringList{QStringLiteral("unknown_1_4")});
}

TEST_F(DeviceListEngineTest, FailedOpenIsTriedAgainOnEveryAttempt)
{
    m_factory->setOpenFailure(QStringLiteral("unknown_1_4"),
                              std::make_exception_ptr(FileRepositoryError::deviceNotConnected()));
    drainEvents();
    const TransferJob job = deleteJob(QStringLiteral("unknown_1_4"));
    ASSERT_TRUE(waitFor(m_engine->enqueue(job)));
    ASSERT_TRUE(m_recorder->waitForStatus(job.id, TransferStatus::Failed));

    const auto failed = m_recorder->job(job.id);
    ASSERT_TRUE(failed && failed->error);
    EXPECT_EQ(failed->error->localizedMessage, FileRepositoryError::deviceNotConnected().message());
    EXPECT_EQ(m_factory->opened().size(), 1 + TransferQueueActor::maxRetries);
    EXPECT_TRUE(m_model->repositoryIds().isEmpty());
}

} // namespace
