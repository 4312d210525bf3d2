#include "engine_fixture.h"

#include "platform/futures.h"
#include "platform/logger.h"

namespace qb::test {

void EngineFixture::SetUp()
{
    ensureApplication();
    qputenv("QB_LOG_PRIVATE", "1");
    Logger::setSink([this](const LogRecord& record) {
        if (record.category != QLatin1String("Transfer"))
            return;
        std::lock_guard lock(m_logMutex);
        m_log.append(record.message);
    });
}

void EngineFixture::TearDown()
{
    // Held operations end first, so that no worker is left waiting when the engine goes.
    repository->shutDown();
    recorder.reset();
    engine.reset();
    Logger::setSink({});
}

RepositoryProvider EngineFixture::provider()
{
    return [repository = repository](const QString&) {
        return readyFuture<std::shared_ptr<FileRepository>>(repository);
    };
}

void EngineFixture::makeEngine(bool installProvider)
{
    TransferQueueActor::Options options;
    options.preferences = preferences;
    options.clock = clock.function();
    options.publishSpacing = std::chrono::milliseconds(0);
    engine = std::make_unique<TransferQueueActor>(options);
    if (installProvider)
        engine->setRepositoryProvider(provider());
    recorder = std::make_unique<PublicationRecorder>(*engine);
}

std::shared_ptr<FakeFileRepository::Call> EngineFixture::held(const QString& operation, int index)
{
    auto call = repository->waitForCall(operation, index);
    EXPECT_TRUE(call) << "no call " << index << " of " << operation.toStdString();
    return call;
}

QStringList EngineFixture::transferLog() const
{
    std::lock_guard lock(m_logMutex);
    return m_log;
}

} // namespace qb::test
