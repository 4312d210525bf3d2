#pragma once

#include <QFuture>
#include <QPromise>

#include <exception>
#include <type_traits>
#include <utility>

namespace qb {

// Failures travel in QFuture as exceptions, so callers use .then() and .onFailed().

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
