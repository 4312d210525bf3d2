#include "sync_spy.h"

#include <QFile>

#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <mutex>
#include <unistd.h>

namespace qb::test::SyncSpy {
namespace {

std::mutex mutex;
QStringList recorded;

void record(const char* name, int fd)
{
    char link[64];
    char target[PATH_MAX] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    {
        const std::lock_guard lock(mutex);
        recorded.append(QString::fromLatin1(name) + u' ' +
                        QFile::decodeName(QByteArray(target, length > 0 ? int(length) : 0)));
    }
}

using Sync = int (*)(int);

Sync real(const char* name)
{
    return reinterpret_cast<Sync>(::dlsym(RTLD_NEXT, name));
}

} // namespace

QStringList calls()
{
    const std::lock_guard lock(mutex);
    return recorded;
}

void clear()
{
    const std::lock_guard lock(mutex);
    recorded.clear();
}

} // namespace qb::test::SyncSpy

// These stand in for the C library's, so the tests see what the code under test flushes.
extern "C" int fdatasync(int fd)
{
    static const auto next = qb::test::SyncSpy::real("fdatasync");
    qb::test::SyncSpy::record("fdatasync", fd);
    return next(fd);
}

extern "C" int fsync(int fd)
{
    static const auto next = qb::test::SyncSpy::real("fsync");
    qb::test::SyncSpy::record("fsync", fd);
    return next(fd);
}
