#include "file_system_spy.h"

#include <QFile>

#include <atomic>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> watching = false; // checked first, so that unwatched calls cost next to nothing
std::mutex mutex;
QString watchedPart;
std::thread::id watchingThread;
QList<qb::test::FileSystemCall> calls;

void record(const char* function, const char* path)
{
    if (!watching.load(std::memory_order_relaxed) || !path)
        return;
    const QString name = QFile::decodeName(path);
    const std::lock_guard lock(mutex);
    if (!watchedPart.isEmpty() && name.contains(watchedPart))
        calls.append(
            {QString::fromLatin1(function), name, std::this_thread::get_id() == watchingThread});
}

// The C library's own function of that name.
template <typename Function> Function real(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

void qb::test::watchFileSystemCalls(const QString& pathPart)
{
    const std::lock_guard lock(mutex);
    watchedPart = pathPart;
    watchingThread = std::this_thread::get_id();
    calls.clear();
    watching = !pathPart.isEmpty();
}

QList<qb::test::FileSystemCall> qb::test::watchedFileSystemCalls()
{
    const std::lock_guard lock(mutex);
    return calls;
}

QStringList qb::test::callsOnWatchingThread(const QList<FileSystemCall>& calls)
{
    QStringList asked;
    for (const FileSystemCall& call : calls) {
        if (call.onWatchingThread)
            asked.append(call.function + u' ' + call.path);
    }
    return asked;
}

extern "C" int statx(int folder, const char* path, int flags, unsigned int mask,
                     struct statx* buffer) noexcept
{
    record("statx", path);
    static const auto next =
        real<int (*)(int, const char*, int, unsigned int, struct statx*)>("statx");
    return next(folder, path, flags, mask, buffer);
}

extern "C" int stat(const char* path, struct stat* buffer) noexcept
{
    record("stat", path);
    static const auto next = real<int (*)(const char*, struct stat*)>("stat");
    return next(path, buffer);
}

extern "C" int stat64(const char* path, struct stat64* buffer) noexcept
{
    record("stat", path);
    static const auto next = real<int (*)(const char*, struct stat64*)>("stat64");
    return next(path, buffer);
}

extern "C" int lstat(const char* path, struct stat* buffer) noexcept
{
    record("lstat", path);
    static const auto next = real<int (*)(const char*, struct stat*)>("lstat");
    return next(path, buffer);
}

extern "C" int lstat64(const char* path, struct stat64* buffer) noexcept
{
    record("lstat", path);
    static const auto next = real<int (*)(const char*, struct stat64*)>("lstat64");
    return next(path, buffer);
}

extern "C" int access(const char* path, int mode) noexcept
{
    record("access", path);
    static const auto next = real<int (*)(const char*, int)>("access");
    return next(path, mode);
}

extern "C" DIR* opendir(const char* path)
{
    record("opendir", path);
    static const auto next = real<DIR* (*)(const char*)>("opendir");
    return next(path);
}

extern "C" char* realpath(const char* path, char* resolved) noexcept
{
    record("realpath", path);
    static const auto next = real<char* (*)(const char*, char*)>("realpath");
    return next(path, resolved);
}
