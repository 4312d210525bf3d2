#include "core/device/device_fakes.h"
#include "core/device/device_list_view_model.h"
#include "core/device/mtp_device_manager.h"
#include "engine_test_support.h"

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// The device list installs its provider in the engine the way the application wires them: a job
// reaches a phone that was never selected, and a failed open is tried again on every attempt.
TEST(DeviceListEngine, JobsReachPhonesThatWereNeverSelectedAndFailedOpensAreRetried)
{
    TransferQueueActor::Options options;
    options.preferences = std::make_shared<QSettingsPreferenceStore>(QString());
    TransferQueueActor engine(options);
    PublicationRecorder recorder(engine);
    auto factory = std::make_shared<FakeRepositoryFactory>();
    factory->setOpenFailure("unknown_1_5",
                            std::make_exception_ptr(FileRepositoryError::deviceNotConnected()));
    DeviceListViewModel model(
        std::make_unique<MTPDeviceManager>(std::make_shared<FakeDeviceLister>(), nullptr,
                                           MTPDeviceManager::Timing{1h, 1h}),
        factory,
        [&](RepositoryProvider provider) { engine.setRepositoryProvider(std::move(provider)); });
    drainEvents(); // the installation is a queued call
    const TransferJob reaches = deleteJob("65537/5", "unknown_1_4"),
                      fails = deleteJob("65537/5", "unknown_1_5");
    ASSERT_TRUE(waitFor(engine.enqueue(reaches)));
    ASSERT_TRUE(recorder.waitForStatus(reaches.id, TransferStatus::Completed));
    const auto repository =
        std::static_pointer_cast<FakeRepository>(model.cachedRepository("unknown_1_4"));
    ASSERT_NE(repository, nullptr) << "the provider did not keep the repository it opened";
    EXPECT_EQ(repository->calls(), QStringList{"delete 65537/5"});

    ASSERT_TRUE(waitFor(engine.enqueue(fails)));
    ASSERT_TRUE(recorder.waitForStatus(fails.id, TransferStatus::Failed));
    EXPECT_EQ(recorder.job(fails.id)->error->localizedMessage,
              FileRepositoryError::deviceNotConnected().message());
    EXPECT_EQ(factory->opened().size(), 2 + TransferQueueActor::maxRetries);
    EXPECT_EQ(model.repositoryIds(), QStringList{"unknown_1_4"});
}

} // namespace
