#include "server_test_support.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/registry_server_backend.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace qb {
namespace {

// The answers to a connection's thread: the server's end-to-end tests cover the ordinary ones.
class RegistryServerBackendTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::ensureApplication();
        context->moveToThread(&thread);
        anchor->moveToThread(&thread);
        thread.start();
        peers.touch("10.0.0.9", QString("Pixel"));
    }
    void TearDown() override
    {
        onConnection([this] {
            delete context;
            delete anchor;
        });
        thread.quit();
        thread.wait();
    }
    // Runs `work` on the connection's thread; returns once it and all posted there before ran.
    void onConnection(std::function<void()> work)
    {
        QMetaObject::invokeMethod(anchor, std::move(work), Qt::BlockingQueuedConnection);
    }
    void verifyPIN(RegistryServerBackend& backend)
    {
        onConnection([&] {
            backend.verifyPIN("10.0.0.9", peers.peers().first().pin, context,
                              [this](std::optional<QString> token) {
                                  QMutexLocker lock(&mutex);
                                  answers.append(token);
                              });
        });
    }
    qsizetype answerCount()
    {
        QMutexLocker lock(&mutex);
        return answers.size();
    }

    QTemporaryDir data;
    WiFiPeerRegistry peers{data.path()};
    PendingOutgoingFilesRegistry outgoing;
    ReceivedFilesRegistry received{data.path()};
    SentFilesRegistry sent{data.path()};
    QMutex mutex;
    QList<std::optional<QString>> answers;
    QThread thread;
    QObject* context = new QObject;
    QObject* anchor = new QObject;
};

TEST_F(RegistryServerBackendTest, BusyGuiThreadGetsTheEmptyAnswerAndALateAnswerIsDropped)
{
    RegistryServerBackend backend(peers, outgoing, received, sent, 50);
    verifyPIN(backend);
    // Waits without serving the GUI queue, as a busy GUI thread would.
    ASSERT_TRUE(test::pollUntil([&] { return answerCount() == 1; }));
    EXPECT_FALSE(answers.first());
    QCoreApplication::processEvents(); // the GUI thread gets to it at last
    onConnection([] {});
    EXPECT_EQ(answerCount(), 1);
    // Guards against running the abandoned check late: it would issue a token nobody received.
    EXPECT_FALSE(peers.peers().first().token);
}

TEST_F(RegistryServerBackendTest, AnswerForAGoneConnectionIsDroppedAndPostedCallsKeepTheirOrder)
{
    RegistryServerBackend backend(peers, outgoing, received, sent);
    verifyPIN(backend);
    onConnection([this] {
        delete context;
        context = nullptr;
    });
    QCoreApplication::processEvents();
    onConnection([] {});
    EXPECT_EQ(answerCount(), 0);

    // The touch of a new address is applied before the check of the same request.
    std::optional<bool> reconnected;
    onConnection([&] {
        backend.touchPeer("10.0.0.10", QString("Tablet"));
        backend.verifyToken("10.0.0.10", "no such token", anchor,
                            [&](bool ok) { reconnected = ok; });
    });
    ASSERT_TRUE(test::waitUntil([&] { return peers.peers().size() == 2; }));
    onConnection([] {});
    QCoreApplication::processEvents();
    onConnection([] {});
    EXPECT_EQ(reconnected, false);
}

} // namespace
} // namespace qb
