#pragma once

#include "platform/process_runner.h"

namespace qb {

// ProcessRunner over QProcess. Thread-safe: every run has its own process object.
class QProcessRunner : public ProcessRunner
{
public:
    // A tool that hangs is abandoned after this long rather than holding up its caller forever.
    static constexpr int kTimeoutMs = 15000;

    explicit QProcessRunner(int timeoutMs = kTimeoutMs) : m_timeoutMs(timeoutMs) {}

    ProcessResult run(const QString& program, const QStringList& arguments) override;

private:
    int m_timeoutMs;
};

} // namespace qb
