#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace qb {

enum class LogLevel { Debug, Info, Warning, Error };

QString toText(LogLevel level);

// Where the systemd journal takes messages while it runs.
inline constexpr char journalSocketPath[] = "/run/systemd/journal/socket";

// Whether a socket is at `path` (a file of another kind, or nothing, is no journal). The default
// sink asks it once about journalSocketPath and writes to standard error without one.
bool journalSocketExists(const QString& path);

struct LogRecord
{
    QString subsystem;
    QString category;
    LogLevel level = LogLevel::Info;
    QString message;
};

// A category logger of the system log. Thread-safe and cheap to copy.
class Logger
{
public:
    Logger(QString category, bool valuesPublic);

    static Logger mtp();
    static Logger transfer();

    // %1..%n in `format` are replaced by `values`; in a private logger each value shows as
    // "<private>" unless the environment variable QB_LOG_PRIVATE=1 is set.
    void debug(const QString& format, const QStringList& values = {}) const;
    void info(const QString& format, const QStringList& values = {}) const;
    void warning(const QString& format, const QStringList& values = {}) const;
    void error(const QString& format, const QStringList& values = {}) const;
    void log(LogLevel level, const QString& format, const QStringList& values = {}) const;

    QString category() const { return m_category; }
    bool valuesPublic() const { return m_valuesPublic; }

    // Replaces the process-wide sink (journal, or stderr when no journal runs or
    // QB_LOG_STDERR=1 is set); an empty function restores the default. Tests capture output
    // with it.
    static void setSink(std::function<void(const LogRecord&)> sink);

    static QString subsystem();

private:
    QString m_category;
    bool m_valuesPublic;
};

// Private values, subsystem "com.halvorin.quillbay".
Logger makeAppLogger(const QString& category);

// Substitutes %1..%n; a placeholder without a value is left as it is.
QString formatLogMessage(const QString& format, const QStringList& values);

} // namespace qb
