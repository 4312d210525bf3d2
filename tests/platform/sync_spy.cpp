#include "sync_spy.h"

#include <QFile>

#include <dlfcn.h>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex mutex;
QStringList calls;

// Records the call, then runs the C library's own function.
int spy(const char* name, int fd)
{
    char target[4096];
    const ssize_t length =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    {
        const std::lock_guard lock(mutex);
        calls << QString::fromLatin1(name) + u' ' +
                     QFile::decodeName(QByteArray(target, std::max<ssize_t>(length, 0)));
    }
    return reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, name))(fd);
}

} // namespace

QStringList qb::test::syncCalls()
{
    const std::lock_guard lock(mutex);
    return calls;
}

void qb::test::clearSyncCalls()
{
    const std::lock_guard lock(mutex);
    calls.clear();
}

extern "C" int fdatasync(int fd)
{
    return spy("fdatasync", fd);
}

extern "C" int fsync(int fd)
{
    return spy("fsync", fd);
}
