#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QtGlobal>

#include <exception>
#include <utility>

namespace qb {

// Runs `handler(future)` on `receiver`'s thread once `future` has finished (with a value, an
// exception or canceled), unless `receiver` is destroyed first. Call it on `receiver`'s thread.
// Qt 6.4's QFuture::then(context, ...) asserts when the context dies before the future
// finishes, so objects that may go away first use this instead.
template <typename T, typename Handler>
void whenFinished(QObject* receiver, const QFuture<T>& future, Handler handler)
{
    auto* watcher = new QFutureWatcher<T>(receiver);
    QObject::connect(watcher, &QFutureWatcherBase::finished, receiver,
                     [watcher, handler = std::move(handler)]() mutable {
                         watcher->deleteLater();
                         try {
                             handler(watcher->future());
                         } catch (const std::exception& error) {
                             qCritical("Unhandled error in a future's handler: %s", error.what());
                         } catch (...) {
                             qCritical("Unhandled error in a future's handler");
                         }
                     });
    watcher->setFuture(future);
}

} // namespace qb
