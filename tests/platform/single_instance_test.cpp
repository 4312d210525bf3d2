#include "platform/single_instance.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qb {
namespace {

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new test::QtApplicationEnvironment);

// Guards against a copy that is quitting, which may take a slow disk's ten seconds, still showing
// its window to a later start: that start would end, and then no copy would run at all.
TEST(SingleInstanceTest, ACopyThatIsQuittingHandsNoStartOverAndTheStartRunsOnceItHasGone)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto quitting = std::make_unique<SingleInstance>(folder.path());
    ASSERT_EQ(quitting->start(1000), SingleInstance::Outcome::Running);
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();

    constexpr int notYet = -1;
    std::atomic<int> outcome = notYet;
    std::unique_ptr<QThread> later(QThread::create([&] {
        SingleInstance instance(folder.path());
        outcome = int(instance.start(20'000));
    }));
    later->start();
    // The quit goes on, and events with it, for a while: the later start keeps waiting.
    EXPECT_FALSE(test::waitUntil([&] { return outcome != notYet; }, 1500));
    EXPECT_EQ(outcome, notYet) << "a quitting copy handed a start over";

    quitting.reset();
    ASSERT_TRUE(later->wait(20'000));
    EXPECT_EQ(outcome, int(SingleInstance::Outcome::Running));
}

// Guards against a data folder that cannot hold a file (read-only, another user's, a file system
// without locks or sockets, or not a folder at all) leaving every start to run beside the others or
// to be refused, and against the files of an earlier release keeping a start from running: the
// name alone decides, one folder reached through a link included, and a later start hands over.
TEST(SingleInstanceTest, TheNameAloneDecidesWhereverTheFolderIs)
{
    QTemporaryDir top;
    ASSERT_TRUE(top.isValid());
    QFile blocker(top.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const QString nowhere = blocker.fileName() + QStringLiteral("/Quillbay");
    const QString data = top.filePath(QStringLiteral("data"));
    ASSERT_TRUE(QDir().mkpath(data));
    ASSERT_TRUE(QFile::link(data, top.filePath(QStringLiteral("link"))));
    // What an earlier release left: its lock, its socket, and a file of the user's.
    ASSERT_TRUE(QFile(data + QStringLiteral("/quillbay.lock")).open(QIODevice::WriteOnly));
    const QByteArray socketFile = QFile::encodeName(data + QStringLiteral("/quillbay.socket"));
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketFile.constData(), size_t(socketFile.size()));
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    ASSERT_TRUE(QFile(data + QStringLiteral("/quillbay.lock.keep")).open(QIODevice::WriteOnly));

    for (const auto& [first, later] :
         {std::pair{nowhere, nowhere}, std::pair{data, top.filePath(QStringLiteral("link"))}}) {
        SCOPED_TRACE(first.toStdString());
        SingleInstance running(first);
        ASSERT_EQ(running.start(1000), SingleInstance::Outcome::Running);
        QSignalSpy shown(&running, &SingleInstance::showRequested);
        std::atomic<int> outcome = -1;
        std::unique_ptr<QThread> start(QThread::create(
            [&, later = later] { outcome = int(SingleInstance(later).start(10'000)); }));
        start->start();
        EXPECT_TRUE(test::waitUntil([&] { return outcome != -1; }, 10'000));
        ASSERT_TRUE(start->wait(10'000));
        EXPECT_EQ(outcome, int(SingleInstance::Outcome::HandedOver));
        EXPECT_EQ(shown.size(), 1);
    }
    EXPECT_EQ(QDir(data).entryList(QDir::Files | QDir::System | QDir::Hidden),
              QStringList({"quillbay.lock.keep"}));
}

} // namespace
} // namespace qb
