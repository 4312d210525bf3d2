#pragma once

#include <QString>
#include <QStringList>

namespace qb {

// What became of one run of a tool.
struct ProcessResult
{
    bool started = false;  // false when the program is missing or cannot be executed
    int exitCode = -1;     // meaningful only when it started and exited by itself
    bool crashed = false;  // ended by a signal
    bool timedOut = false; // still running when the runner gave up waiting, and stopped

    bool succeeded() const { return started && !crashed && !timedOut && exitCode == 0; }
};

// Runs a system tool to its end. Callers that only need the side effect may ignore the result:
// there is nothing useful to do when such a tool is missing.
class ProcessRunner
{
public:
    virtual ~ProcessRunner() = default;
    virtual ProcessResult run(const QString& program, const QStringList& arguments) = 0;
};

} // namespace qb
