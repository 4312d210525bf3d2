#pragma once

#include "platform/process_runner.h"

namespace qb {

// ProcessRunner over QProcess. Thread-safe: every run has its own process object.
class QProcessRunner : public ProcessRunner
{
public:
    // A tool that hangs is abandoned after this long rather than holding up its caller forever.
    static constexpr int kTimeoutMs = 15000;

    void run(const QString& program, const QStringList& arguments) override;
};

} // namespace qb
