#include "platform/logger.h"

#include <QByteArray>
#include <QFile>

#include <systemd/sd-journal.h>

#include <cstdio>
#include <mutex>
#include <sys/stat.h>

namespace qb {

namespace {

std::mutex g_sinkMutex;
std::function<void(const LogRecord&)> g_sink;

int journalPriority(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug:
        return 7;
    case LogLevel::Info:
        return 6;
    case LogLevel::Warning:
        return 4;
    case LogLevel::Error:
        return 3;
    }
    return 6;
}

void writeStderr(const LogRecord& record)
{
    const QByteArray line =
        QStringLiteral("[%1] [%2] %3: %4\n")
            .arg(record.subsystem, record.category, toText(record.level).toUpper(), record.message)
            .toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

// Decided once, at the first message: sd_journal_send() reports success even when nothing
// listens, so a journal that is not there would swallow the whole log. QB_LOG_STDERR=1 keeps the
// journal out of it too (tests, or reading the log in a terminal).
bool logsToStderr()
{
    static const bool toStderr = qEnvironmentVariable("QB_LOG_STDERR") == QLatin1String("1") ||
                                 !journalSocketExists(QString::fromLatin1(journalSocketPath));
    return toStderr;
}

void writeDefault(const LogRecord& record)
{
    if (logsToStderr()) {
        writeStderr(record);
        return;
    }
    const QByteArray message = record.message.toUtf8();
    const QByteArray subsystem = record.subsystem.toUtf8();
    const QByteArray category = record.category.toUtf8();
    const int rc =
        sd_journal_send("MESSAGE=%s", message.constData(), "PRIORITY=%d",
                        journalPriority(record.level), "SUBSYSTEM=%s", subsystem.constData(),
                        "CATEGORY=%s", category.constData(), "SYSLOG_IDENTIFIER=quillbay", nullptr);
    // A journal that went away since (or a socket left behind by one) refuses the message.
    if (rc < 0)
        writeStderr(record);
}

bool privateValuesShown()
{
    return qEnvironmentVariable("QB_LOG_PRIVATE") == QLatin1String("1");
}

} // namespace

bool journalSocketExists(const QString& path)
{
    struct stat status
    {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISSOCK(status.st_mode);
}

QString toText(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug:
        return QStringLiteral("debug");
    case LogLevel::Info:
        return QStringLiteral("info");
    case LogLevel::Warning:
        return QStringLiteral("warning");
    case LogLevel::Error:
        return QStringLiteral("error");
    }
    return {};
}

QString formatLogMessage(const QString& format, const QStringList& values)
{
    QString out;
    out.reserve(format.size());
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('%') && i + 1 < format.size() && format.at(i + 1).isDigit()) {
            qsizetype j = i + 1;
            while (j < format.size() && format.at(j).isDigit() && j - i <= 2)
                ++j;
            const int n = format.mid(i + 1, j - i - 1).toInt();
            if (n >= 1 && n <= values.size()) {
                out += values.at(n - 1);
                i = j;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

Logger::Logger(QString category, bool valuesPublic)
    : m_category(std::move(category)), m_valuesPublic(valuesPublic)
{}

Logger Logger::mtp()
{
    static const Logger logger = makeAppLogger(QStringLiteral("MTP"));
    return logger;
}

Logger Logger::transfer()
{
    static const Logger logger = makeAppLogger(QStringLiteral("Transfer"));
    return logger;
}

QString Logger::subsystem()
{
    return QStringLiteral("com.halvorin.quillbay");
}

void Logger::debug(const QString& format, const QStringList& values) const
{
    log(LogLevel::Debug, format, values);
}

void Logger::info(const QString& format, const QStringList& values) const
{
    log(LogLevel::Info, format, values);
}

void Logger::warning(const QString& format, const QStringList& values) const
{
    log(LogLevel::Warning, format, values);
}

void Logger::error(const QString& format, const QStringList& values) const
{
    log(LogLevel::Error, format, values);
}

void Logger::log(LogLevel level, const QString& format, const QStringList& values) const
{
    QStringList shown = values;
    if (!m_valuesPublic && !privateValuesShown())
        shown.fill(QStringLiteral("<private>"));
    const LogRecord record{subsystem(), m_category, level, formatLogMessage(format, shown)};

    std::function<void(const LogRecord&)> sink;
    {
        std::lock_guard lock(g_sinkMutex);
        sink = g_sink;
    }
    try {
        if (sink)
            sink(record);
        else
            writeDefault(record);
    } catch (...) {
        // Logging must never take its caller down.
    }
}

void Logger::setSink(std::function<void(const LogRecord&)> sink)
{
    std::lock_guard lock(g_sinkMutex);
    g_sink = std::move(sink);
}

Logger makeAppLogger(const QString& category)
{
    return Logger(category, false);
}

} // namespace qb
