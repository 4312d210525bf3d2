#pragma once

#include <QFuture>
#include <QPromise>

#include <exception>
#include <mutex>
#include <type_traits>
#include <utility>

namespace qb {

// Failures travel in QFuture as exceptions, so callers use .then() and .onFailed().

// Qt 6.4 can run a continuation twice, the second time on an emptied promise, when .then() is
// attached while another thread finishes the future. Producers that finish on a thread of their
// own go through finishPromise(), and continuations on such futures are attached through
// thenSync(): one lock keeps the two apart. It is recursive because finishing runs synchronous
// continuations, which may finish and attach further ones.
inline std::recursive_mutex& continuationLock()
{
    static std::recursive_mutex lock;
    return lock;
}

template <typename T> void finishPromise(QPromise<T>& promise)
{
    std::lock_guard guard(continuationLock());
    promise.finish();
}

template <typename T, typename F> auto thenSync(QFuture<T> future, F continuation)
{
    std::lock_guard guard(continuationLock());
    return future.then(QtFuture::Launch::Sync, std::move(continuation));
}

template <typename T> QFuture<T> readyFuture(T value)
{
    QPromise<T> promise;
    QFuture<T> future = promise.future();
    promise.start();
    promise.addResult(std::move(value));
    promise.finish();
    return future;
}

inline QFuture<void> readyFuture()
{
    QPromise<void> promise;
    QFuture<void> future = promise.future();
    promise.start();
    promise.finish();
    return future;
}

template <typename T> QFuture<T> failedFuture(std::exception_ptr error)
{
    QPromise<T> promise;
    QFuture<T> future = promise.future();
    promise.start();
    promise.setException(std::move(error));
    promise.finish();
    return future;
}

template <typename T, typename E>
requires(!std::is_same_v<std::decay_t<E>, std::exception_ptr>) QFuture<T> failedFuture(E error)
{
    return failedFuture<T>(std::make_exception_ptr(std::move(error)));
}

} // namespace qb
