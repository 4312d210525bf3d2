#pragma once

#include <QString>
#include <QStringList>

namespace qb {

// Runs a system tool to its end. A tool that cannot start, fails or prints is ignored: callers
// only need the side effect, and there is nothing useful to do when it is missing.
class ProcessRunner
{
public:
    virtual ~ProcessRunner() = default;
    virtual void run(const QString& program, const QStringList& arguments) = 0;
};

} // namespace qb
