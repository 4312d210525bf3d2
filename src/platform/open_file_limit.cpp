#include "platform/open_file_limit.h"

#include "platform/local_files.h"
#include "platform/logger.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <sys/resource.h>

namespace qb {

namespace {

// The soft limit the process started with, for the programs it starts; 0 until it is raised.
rlim_t startingSoftLimit = 0;

qint64 asCount(rlim_t value)
{
    return value == RLIM_INFINITY ? std::numeric_limits<qint64>::max() : qint64(value);
}

// The most descriptors the kernel gives one process, whatever the hard limit says.
rlim_t kernelCeiling()
{
    QFile file(QStringLiteral("/proc/sys/fs/nr_open"));
    bool ok = false;
    const qint64 ceiling =
        file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
    return ok && ceiling > 0 ? rlim_t(ceiling) : rlim_t(1024 * 1024);
}

} // namespace

OpenFileLimits openFileLimits()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    return {asCount(limit.rlim_cur), asCount(limit.rlim_max)};
}

OpenFileLimits raiseOpenFileLimit()
{
    const Logger log(QStringLiteral("App"), true);
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        log.error(QStringLiteral("Cannot read the open-file limit: %1"),
                  {LocalFiles::errnoText(errno)});
        return {};
    }
    const rlim_t before = limit.rlim_cur;
    startingSoftLimit = before;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) {
            // An unlimited or very high hard limit is beyond what the kernel takes.
            raised.rlim_cur = std::min(limit.rlim_max, kernelCeiling());
            if (raised.rlim_cur > limit.rlim_cur && ::setrlimit(RLIMIT_NOFILE, &raised) != 0)
                log.warning(QStringLiteral("Cannot raise the open-file limit: %1"),
                            {LocalFiles::errnoText(errno)});
        }
    }
    const OpenFileLimits now = openFileLimits();
    log.info(
        QStringLiteral("Open-file limit: %1 (was %2; hard limit %3)"),
        {QString::number(now.soft), QString::number(asCount(before)), QString::number(now.hard)});
    return now;
}

void restoreStartingOpenFileLimit()
{
    if (startingSoftLimit == 0)
        return;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur > startingSoftLimit) {
        limit.rlim_cur = startingSoftLimit;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace qb
