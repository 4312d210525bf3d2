#pragma once

#include "platform/logger.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <thread>

namespace qb::test {

// The registries post to the GUI thread through Qt's event queue, which needs an application.
inline void ensureApplication()
{
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "wifi_registry_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

// 2001-01-01 00:00:00 UTC plus `seconds`.
inline QDateTime referenceDate(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(978307200000LL + qint64(seconds * 1000), Qt::UTC);
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// The permission bits of a file, or -1.
inline int fileMode(const QString& path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

// Runs `work` on another thread while this (the GUI) thread keeps serving posted calls.
inline void runOffGuiThread(const std::function<void()>& work)
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    QCoreApplication::processEvents();
}

// Collects what the code logs while it is alive.
class LogCapture
{
public:
    LogCapture()
    {
        Logger::setSink([this](const LogRecord& record) {
            QMutexLocker lock(&m_mutex);
            m_records.append(record);
        });
    }
    ~LogCapture() { Logger::setSink({}); }

    bool hasError(const QString& containing) const
    {
        QMutexLocker lock(&m_mutex);
        for (const LogRecord& record : m_records) {
            if (record.level == LogLevel::Error && record.message.contains(containing))
                return true;
        }
        return false;
    }

private:
    mutable QMutex m_mutex;
    QList<LogRecord> m_records;
};

} // namespace qb::test
