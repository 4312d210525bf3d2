// What many test binaries share: one application object, waiting on the event loop, and the
// log records a test produced.
#pragma once

#include "platform/logger.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThreadPool>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace qb::test {

// One application object for a whole test binary (queued calls and widgets need it).
template <typename App> class ApplicationEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "qb-test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            m_app = std::make_unique<App>(argc, argv);
    }
    void TearDown() override
    {
        QThreadPool::globalInstance()->waitForDone();
        m_app.reset();
    }

private:
    std::unique_ptr<App> m_app;
};
using QtApplicationEnvironment = ApplicationEnvironment<QCoreApplication>;

// An application object for the rest of the process, for binaries that set up no environment.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "qb-test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

// Runs the event loop until `condition` holds; false after `timeoutMs`.
template <typename Condition> bool waitUntil(Condition condition, int timeoutMs = 20'000)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

// Captures the messages logged while it lives (private values shown), then restores the sink.
class LogCapture
{
public:
    LogCapture()
    {
        qputenv("QB_LOG_PRIVATE", "1");
        Logger::setSink([this](const LogRecord& record) {
            std::lock_guard lock(m_mutex);
            m_records.append(record);
        });
    }
    ~LogCapture()
    {
        Logger::setSink({});
        qunsetenv("QB_LOG_PRIVATE");
    }
    QList<LogRecord> records() const
    {
        std::lock_guard lock(m_mutex);
        return m_records;
    }
    QStringList lines() const
    {
        QStringList out;
        for (const LogRecord& record : records())
            out.append(record.message);
        return out;
    }
    int count(const QString& line) const { return lines().count(line); }
    // Whether a record's "category: message" holds `text`.
    bool contains(const QString& text) const
    {
        for (const LogRecord& record : records()) {
            if ((record.category + QStringLiteral(": ") + record.message).contains(text))
                return true;
        }
        return false;
    }
    bool hasError(const QString& containing) const
    {
        for (const LogRecord& record : records()) {
            if (record.level == LogLevel::Error && record.message.contains(containing))
                return true;
        }
        return false;
    }

private:
    mutable std::mutex m_mutex;
    QList<LogRecord> m_records;
};

} // namespace qb::test
