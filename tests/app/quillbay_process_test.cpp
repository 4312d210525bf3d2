// The application binary itself: started offscreen with a home of its own, it serves phones
// within moments and quits cleanly when the session asks it to.

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Waits until the child has logged the server's port; 0 when it did not within `timeoutMs`.
quint16 waitForPort(QProcess& child, QByteArray& log, int timeoutMs)
{
    static const QRegularExpression ready(QStringLiteral("READY on port (\\d+)"));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        log += child.readAllStandardError();
        const QRegularExpressionMatch match = ready.match(QString::fromUtf8(log));
        if (match.hasMatch())
            return quint16(match.captured(1).toUInt());
        if (child.state() == QProcess::NotRunning)
            return 0;
        child.waitForReadyRead(100);
    }
    return 0;
}

QByteArray get(quint16 port, const QByteArray& path)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(10000))
        return {};
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(10000) || socket.bytesAvailable() > 0) {
        reply += socket.readAll();
        if (socket.state() != QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0)
            break;
    }
    return reply;
}

// Quillbay started offscreen with `home` as its home and every folder of its own in it.
QProcessEnvironment environmentIn(const QTemporaryDir& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : {std::pair{"HOME", ""},
                                      {"XDG_CONFIG_HOME", ".config"},
                                      {"XDG_DATA_HOME", ".local/share"},
                                      {"XDG_CACHE_HOME", ".cache"},
                                      {"XDG_RUNTIME_DIR", "run"},
                                      {"XDG_DOWNLOAD_DIR", "Downloads"}})
        environment.insert(QString::fromUtf8(name), home.filePath(QString::fromUtf8(value)));
    ::mkdir(QFile::encodeName(home.filePath(QStringLiteral("run"))).constData(), 0700);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QB_LOG_STDERR"), QStringLiteral("1"));
    // The crash guard stays on, as for a user; the system's DNS-SD daemon stays out of reach.
    environment.remove(QStringLiteral("QB_CRASH_GUARD"));
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + home.filePath(QStringLiteral("no-bus")));
    return environment;
}

// Starts Quillbay in `environment`.
void start(QProcess& quillbay, const QProcessEnvironment& environment)
{
    quillbay.setProcessEnvironment(environment);
    quillbay.start(QStringLiteral(QB_QUILLBAY_BINARY), {});
    EXPECT_TRUE(quillbay.waitForStarted(10000));
}

TEST(QuillbayProcessTest, ServesStatusWithinThreeSecondsAndQuitsCleanlyOnSigterm)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment environment = environmentIn(home);

    // A copy folder that a crash left a day and more ago goes at start-up; a fresh one stays.
    const QString cache = home.filePath(QStringLiteral(".cache/halvorin/Quillbay"));
    const QString stale = cache + QStringLiteral("/0C2B7A52-8E4B-4F5E-9D0A-3C6B1E2F4A11");
    const QString fresh = cache + QStringLiteral("/5D1E9C34-2A7F-4B86-8E13-9F0B7C6D5E42");
    ASSERT_TRUE(QDir().mkpath(stale) && QDir().mkpath(fresh));
    const timespec twoDaysAgo{QDateTime::currentSecsSinceEpoch() - 2 * 86400, 0};
    const timespec times[2] = {twoDaysAgo, twoDaysAgo};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(stale).constData(), times, 0), 0);

    QProcess quillbay;
    quillbay.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    quillbay.start(QStringLiteral(QB_QUILLBAY_BINARY), {});
    ASSERT_TRUE(quillbay.waitForStarted(10000));

    QByteArray log;
    const quint16 port = waitForPort(quillbay, log, 3000);
    const qint64 readyAfterMs = clock.elapsed();
    ASSERT_NE(port, 0) << "no port within 3 s; log:\n" << log.toStdString();
    EXPECT_LE(readyAfterMs, 3000);

    const QByteArray reply = get(port, "/status");
    ASSERT_TRUE(reply.startsWith("HTTP/1.1 200")) << reply.toStdString();
    const qsizetype bodyStart = reply.indexOf("\r\n\r\n");
    ASSERT_GT(bodyStart, 0);
    const QJsonDocument status = QJsonDocument::fromJson(reply.mid(bodyStart + 4));
    EXPECT_TRUE(status.isObject()) << reply.toStdString();
    QElapsedTimer sweep;
    sweep.start();
    while (QFileInfo::exists(stale) && sweep.elapsed() < 5000)
        QThread::msleep(20);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(fresh));

    ASSERT_EQ(::kill(pid_t(quillbay.processId()), SIGTERM), 0);
    ASSERT_TRUE(quillbay.waitForFinished(30000));
    log += quillbay.readAllStandardError();
    EXPECT_EQ(quillbay.exitStatus(), QProcess::NormalExit) << log.toStdString();
    EXPECT_EQ(quillbay.exitCode(), 0) << log.toStdString();
}

// Waits until `log` (added to from the child's standard error) contains `text`.
bool waitForLog(QProcess& child, QByteArray& log, const QByteArray& text, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!log.contains(text) && clock.elapsed() < timeoutMs) {
        child.waitForReadyRead(100);
        log += child.readAllStandardError();
    }
    return log.contains(text);
}

// Expects `second` to hand over to `running` and end with status 0, without serving; returns
// what `second` logged.
QByteArray handsOver(QProcess& second, QProcess& running, QByteArray& runningLog)
{
    EXPECT_TRUE(second.state() == QProcess::NotRunning || second.waitForFinished(10000))
        << "a second copy runs";
    const QByteArray log = second.readAllStandardError();
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit) << log.toStdString();
    EXPECT_EQ(second.exitCode(), 0) << log.toStdString();
    EXPECT_TRUE(log.contains("Quillbay is already running; asked it to show its window"))
        << log.toStdString();
    EXPECT_FALSE(log.contains("READY")) << log.toStdString();
    EXPECT_TRUE(waitForLog(running, runningLog, "Another start asked to show the window"))
        << runningLog.toStdString();
    runningLog.clear();
    return log;
}

// Guards against a second copy on the same home serving phones beside the first and writing its
// own lists over the first one's files, against two copies that start at once both running, and
// against a killed copy leaving anything that keeps the next start from running.
TEST(QuillbayProcessTest, ASecondStartShowsTheRunningCopyAndAKilledOneLeavesNothingInTheWay)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment environment = environmentIn(home);

    QProcess first;
    start(first, environment);
    QByteArray firstLog;
    ASSERT_NE(waitForPort(first, firstLog, 10000), 0) << firstLog.toStdString();
    QProcess second;
    start(second, environment);
    handsOver(second, first, firstLog);
    ASSERT_EQ(first.state(), QProcess::Running);

    // Killed; two starts at once, and one of them runs.
    ASSERT_EQ(::kill(pid_t(first.processId()), SIGKILL), 0);
    ASSERT_TRUE(first.waitForFinished(10000));
    QProcess racers[2];
    for (QProcess& racer : racers)
        start(racer, environment);
    QElapsedTimer clock;
    clock.start();
    while (racers[0].state() == QProcess::Running && racers[1].state() == QProcess::Running &&
           clock.elapsed() < 10000) {
        for (QProcess& racer : racers)
            racer.waitForFinished(50);
    }
    const int runs = racers[0].state() == QProcess::Running ? 0 : 1;
    QByteArray runningLog;
    ASSERT_NE(waitForPort(racers[runs], runningLog, 10000), 0) << runningLog.toStdString();
    handsOver(racers[1 - runs], racers[runs], runningLog);
    QProcess& running = racers[runs];

    // It holds the name the killed one held: a later start reaches it too.
    QProcess later;
    start(later, environment);
    handsOver(later, running, runningLog);
    ASSERT_EQ(::kill(pid_t(running.processId()), SIGTERM), 0);
    ASSERT_TRUE(running.waitForFinished(30000));
    EXPECT_EQ(running.exitCode(), 0);
}

// Guards against a data folder the user cannot write (read-only, or left root's by a first run
// under sudo) refusing every start for good, with or without the lock file of an earlier release
// in it: the copy that runs holds its name against the next start all the same.
TEST(QuillbayProcessTest, AFolderThatCannotBeWrittenNeverStopsAStart)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment environment = environmentIn(home);
    const QString folder = home.filePath(QStringLiteral(".local/share/Quillbay"));
    ASSERT_TRUE(QDir().mkpath(folder));
    // Run as root, the copies run as another user, to whom root's folder is foreign as after sudo.
    const bool asNobody = ::geteuid() == 0;
    constexpr uid_t nobody = 65534;
    if (asNobody) {
        QDirIterator entries(home.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        ASSERT_EQ(::chown(QFile::encodeName(home.path()).constData(), nobody, nobody), 0);
        while (entries.hasNext())
            ASSERT_EQ(::chown(QFile::encodeName(entries.next()).constData(), nobody, nobody), 0);
    }
    const auto startAsTheUser = [&](QProcess& quillbay) {
        if (asNobody)
            quillbay.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
                    ::_exit(3);
            });
        start(quillbay, environment);
    };

    const QByteArray path = QFile::encodeName(folder);
    const QString lock = folder + QStringLiteral("/quillbay.lock");
    for (const bool withLock : {false, true}) {
        SCOPED_TRACE(withLock);
        ASSERT_EQ(::chmod(path.constData(), 0755), 0);
        if (withLock) {
            QFile file(lock);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("4242\n");
        }
        // Root's, or read-only to the user who owns it.
        ASSERT_EQ(asNobody ? ::chown(path.constData(), 0, 0) : ::chmod(path.constData(), 0555), 0);

        QProcess quillbay;
        startAsTheUser(quillbay);
        QByteArray log;
        ASSERT_NE(waitForPort(quillbay, log, 10000), 0) << log.toStdString();
        QProcess later;
        startAsTheUser(later);
        handsOver(later, quillbay, log);
        ASSERT_EQ(::kill(pid_t(quillbay.processId()), SIGTERM), 0);
        ASSERT_TRUE(quillbay.waitForFinished(30000));
        EXPECT_EQ(quillbay.exitCode(), 0);
        EXPECT_EQ(QFileInfo::exists(lock), withLock);
    }
}

// Guards against a start from another session of the user (ssh, cron, su -: no runtime folder, or
// another one) missing the copy started on the desktop, and against a warning for every round of
// its wait.
TEST(QuillbayProcessTest, AStartFromAnySessionOfTheUserReachesTheRunningCopy)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment desktop = environmentIn(home);
    QProcess running;
    start(running, desktop);
    QByteArray runningLog;
    ASSERT_NE(waitForPort(running, runningLog, 10000), 0) << runningLog.toStdString();

    QProcessEnvironment withoutRuntime = desktop;
    withoutRuntime.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    QProcessEnvironment otherRuntime = desktop;
    const QString other = home.filePath(QStringLiteral("other-run"));
    ASSERT_EQ(::mkdir(QFile::encodeName(other).constData(), 0700), 0);
    otherRuntime.insert(QStringLiteral("XDG_RUNTIME_DIR"), other);
    for (const QProcessEnvironment& session : {withoutRuntime, otherRuntime}) {
        QProcess later;
        start(later, session);
        const QByteArray log = handsOver(later, running, runningLog);
        EXPECT_LE(log.count("XDG_RUNTIME_DIR"), 1) << log.toStdString();
    }
    ASSERT_EQ(::kill(pid_t(running.processId()), SIGTERM), 0);
    ASSERT_TRUE(running.waitForFinished(30000));
    EXPECT_EQ(running.exitCode(), 0);
}

// Guards against the uploads recorded just before a quit being lost: the history writes records a
// moment after they come, and the quit writes those still unwritten.
TEST(QuillbayProcessTest, EveryUploadAnsweredBeforeSigtermIsInTheHistoryAfterIt)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment environment = environmentIn(home);
    QProcess quillbay;
    start(quillbay, environment);
    QByteArray log;
    const quint16 port = waitForPort(quillbay, log, 10000);
    ASSERT_NE(port, 0) << log.toStdString();

    constexpr int uploads = 40;
    for (int i = 0; i < uploads; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        ASSERT_TRUE(socket.waitForConnected(10000));
        socket.write("POST /upload HTTP/1.1\r\nX-File-Name: " + QByteArray::number(i) +
                     ".txt\r\nContent-Length: 1\r\n\r\nx");
        QByteArray reply;
        while (!reply.contains("\r\n\r\n") && socket.waitForReadyRead(10000))
            reply += socket.readAll();
        ASSERT_TRUE(reply.startsWith("HTTP/1.1 200")) << reply.toStdString();
    }
    ASSERT_EQ(::kill(pid_t(quillbay.processId()), SIGTERM), 0);
    ASSERT_TRUE(quillbay.waitForFinished(30000));
    log += quillbay.readAllStandardError();
    EXPECT_EQ(quillbay.exitCode(), 0) << log.toStdString();
    QFile history(home.filePath(QStringLiteral(".local/share/Quillbay/received_files.json")));
    ASSERT_TRUE(history.open(QIODevice::ReadOnly)) << log.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(history.readAll()).array().size(), uploads);
}

} // namespace
