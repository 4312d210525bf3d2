#include "platform/qprocess_runner.h"

#include "platform/open_file_limit.h"

#include <QProcess>

namespace qb {

ProcessResult QProcessRunner::run(const QString& program, const QStringList& arguments)
{
    ProcessResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setChildProcessModifier([] { restoreStartingOpenFileLimit(); });
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(m_timeoutMs))
        return result;
    result.started = true;
    if (!process.waitForFinished(m_timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    return result;
}

} // namespace qb
