#include "server_test_support.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/registry_server_backend.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace qb {
namespace {

// A connection's thread: its own event loop, with one object that stands for the connection.
class ConnectionThread
{
public:
    ConnectionThread()
    {
        context = new QObject;
        context->moveToThread(&m_thread);
        m_anchor->moveToThread(&m_thread);
        m_thread.start();
    }
    ~ConnectionThread()
    {
        run([this] {
            delete context;
            delete m_anchor;
        });
        m_thread.quit();
        m_thread.wait();
    }
    void run(std::function<void()> work)
    {
        QMetaObject::invokeMethod(m_anchor, std::move(work), Qt::BlockingQueuedConnection);
    }
    void destroyContext()
    {
        run([this] {
            delete context;
            context = nullptr;
        });
    }
    // Returns once everything posted to the connection's thread so far has run.
    void drain()
    {
        run([] {});
    }

    QObject* context = nullptr;

private:
    QThread m_thread;
    QObject* m_anchor = new QObject;
};

class RegistryServerBackendTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::ensureApplication();
        peers.touch("10.0.0.9", QString("Pixel"));
        pin = peers.peers().first().pin;
    }

    // Waits on this thread without serving the GUI queue, as a busy GUI thread would.
    bool waitWithoutServing(const std::function<bool()>& done)
    {
        for (int i = 0; i < 2000 && !done(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done();
    }

    test::LogCapture logs;
    QTemporaryDir data;
    WiFiPeerRegistry peers{data.path()};
    PendingOutgoingFilesRegistry outgoing;
    ReceivedFilesRegistry received{data.path()};
    SentFilesRegistry sent{data.path()};
    QString pin;
    QMutex mutex;
    QList<std::optional<QString>> answers;
    ConnectionThread connection;

    std::function<void(std::optional<QString>)> collect()
    {
        return [this](std::optional<QString> token) {
            QMutexLocker lock(&mutex);
            answers.append(token);
        };
    }
    qsizetype answerCount()
    {
        QMutexLocker lock(&mutex);
        return answers.size();
    }
};

TEST_F(RegistryServerBackendTest, AnswersOnTheConnectionsThread)
{
    RegistryServerBackend backend(peers, outgoing, received, sent);
    connection.run([&] { backend.verifyPIN("10.0.0.9", pin, connection.context, collect()); });
    ASSERT_TRUE(test::waitUntil([&] { return answerCount() == 1; }));
    EXPECT_EQ(answers.first()->size(), 36);
}

TEST_F(RegistryServerBackendTest, BusyGuiThreadGetsTheEmptyAnswerAndALateAnswerIsDropped)
{
    RegistryServerBackend backend(peers, outgoing, received, sent, 50);
    connection.run([&] { backend.verifyPIN("10.0.0.9", pin, connection.context, collect()); });
    ASSERT_TRUE(waitWithoutServing([&] { return answerCount() == 1; }));
    EXPECT_FALSE(answers.first());
    QCoreApplication::processEvents(); // the GUI thread gets to it at last
    connection.drain();
    EXPECT_EQ(answerCount(), 1);
    // Guards against running the abandoned check late: it would issue a token nobody received.
    EXPECT_FALSE(peers.peers().first().token);
}

TEST_F(RegistryServerBackendTest, AnswerForAConnectionThatIsGoneIsDropped)
{
    RegistryServerBackend backend(peers, outgoing, received, sent);
    connection.run([&] { backend.verifyPIN("10.0.0.9", pin, connection.context, collect()); });
    connection.destroyContext();
    QCoreApplication::processEvents();
    connection.drain();
    EXPECT_EQ(answerCount(), 0);
}

TEST_F(RegistryServerBackendTest, PostedCallsKeepTheirOrderWithTheAnsweredOnes)
{
    RegistryServerBackend backend(peers, outgoing, received, sent);
    std::optional<bool> reconnected;
    // The touch of a new address is applied before the check of the same request.
    connection.run([&] {
        backend.touchPeer("10.0.0.10", QString("Tablet"));
        backend.verifyToken("10.0.0.10", "no such token", connection.context,
                            [&](bool ok) { reconnected = ok; });
    });
    ASSERT_TRUE(test::waitUntil([&] { return peers.peers().size() == 2; }));
    connection.drain();
    QCoreApplication::processEvents();
    connection.drain();
    EXPECT_EQ(reconnected, false);
}

} // namespace
} // namespace qb
