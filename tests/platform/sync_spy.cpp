#include "sync_spy.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <dlfcn.h>
#include <initializer_list>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::mutex mutex;
QStringList calls;
std::condition_variable released;
QString holdPath; // empty: nothing is held
int held = 0;
int failure = 0;
QString failurePath;
int delayMs = 0;
QString delayPath;
struct Failure
{
    int error = 0; // 0: none
    QString pathPart;
    int times = -1; // how many calls are left to fail; all while negative
};
Failure renameFailure;
Failure noReplaceFailure;
Failure linkFailure;
Failure chmodFailure;

// The path the descriptor `fd` has now.
QString pathOf(int fd)
{
    char target[4096];
    const ssize_t length =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    return QFile::decodeName(QByteArray(target, std::max<ssize_t>(length, 0)));
}

// Records the call, holds or fails it when told to, else runs the C library's own function.
int spy(const char* name, int fd)
{
    {
        std::unique_lock lock(mutex);
        const QString path = pathOf(fd);
        calls << QString::fromLatin1(name) + u' ' + path;
        if (!holdPath.isEmpty() && path.contains(holdPath)) {
            ++held;
            released.wait_for(lock, std::chrono::seconds(10), [] { return holdPath.isEmpty(); });
            --held;
        }
        if (failure != 0 && path.contains(failurePath)) {
            errno = failure;
            return -1;
        }
        if (delayMs > 0 && path.contains(delayPath)) {
            const auto delay = std::chrono::milliseconds(delayMs);
            lock.unlock(); // other syncs, and the test's calls, go on meanwhile
            std::this_thread::sleep_for(delay);
        }
    }
    return reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, name))(fd);
}

// Fails the call naming `target` when one of `failures` says so, else runs the C library's own
// function.
template <typename... Args>
int renameSpy(const char* name, std::initializer_list<Failure*> failures, const char* target,
              Args... args)
{
    {
        const std::lock_guard lock(mutex);
        for (Failure* failure : failures) {
            if (failure->error != 0 && QFile::decodeName(target).contains(failure->pathPart)) {
                errno = failure->error;
                if (failure->times > 0 && --failure->times == 0)
                    failure->error = 0;
                return -1;
            }
        }
    }
    return reinterpret_cast<int (*)(Args...)>(::dlsym(RTLD_NEXT, name))(args...);
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

void qb::test::holdSyncs(const QString& pathPart)
{
    const std::lock_guard lock(mutex);
    holdPath = pathPart;
}

void qb::test::releaseSyncs()
{
    {
        const std::lock_guard lock(mutex);
        holdPath.clear();
    }
    released.notify_all();
}

int qb::test::heldSyncs()
{
    const std::lock_guard lock(mutex);
    return held;
}

void qb::test::failSyncsWith(int error, const QString& pathPart)
{
    const std::lock_guard lock(mutex);
    failure = error;
    failurePath = pathPart;
}

void qb::test::delaySyncs(int ms, const QString& pathPart)
{
    const std::lock_guard lock(mutex);
    delayMs = ms;
    delayPath = pathPart;
}

void qb::test::failRenamesWith(int error, const QString& pathPart, int times)
{
    const std::lock_guard lock(mutex);
    renameFailure = {times == 0 ? 0 : error, pathPart, times};
}

void qb::test::failNoReplaceRenamesWith(int error, const QString& pathPart)
{
    const std::lock_guard lock(mutex);
    noReplaceFailure = {error, pathPart};
}

void qb::test::failLinksWith(int error, const QString& pathPart)
{
    const std::lock_guard lock(mutex);
    linkFailure = {error, pathPart};
}

extern "C" int rename(const char* from, const char* to) noexcept
{
    return renameSpy("rename", {&renameFailure}, to, from, to);
}

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                         unsigned int flags) noexcept
{
    return renameSpy("renameat2", {&renameFailure, &noReplaceFailure}, to, fromFolder, from,
                     toFolder, to, flags);
}

extern "C" int link(const char* from, const char* to) noexcept
{
    return renameSpy("link", {&linkFailure}, to, from, to);
}

void qb::test::failChmodsWith(int error, const QString& pathPart)
{
    const std::lock_guard lock(mutex);
    chmodFailure = {error, pathPart};
}

extern "C" int fchmod(int fd, mode_t mode) noexcept
{
    {
        const std::lock_guard lock(mutex);
        if (chmodFailure.error != 0 && pathOf(fd).contains(chmodFailure.pathPart)) {
            errno = chmodFailure.error;
            return -1;
        }
    }
    return reinterpret_cast<int (*)(int, mode_t)>(::dlsym(RTLD_NEXT, "fchmod"))(fd, mode);
}

extern "C" int fdatasync(int fd)
{
    return spy("fdatasync", fd);
}

extern "C" int fsync(int fd)
{
    return spy("fsync", fd);
}
