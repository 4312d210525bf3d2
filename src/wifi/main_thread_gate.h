#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>

namespace qb {

// How the Wi-Fi server's connection threads reach a registry that lives on the GUI thread.
//
// post() queues work on the context object's thread and returns at once; work posted to the same
// thread runs in posting order (Qt's posted-event queue), whichever registry it is for. It may be
// used from any thread. Questions that need an answer go through the server backend, which never
// blocks a connection thread.
class MainThreadGate
{
public:
    explicit MainThreadGate(QObject* context) : m_context(context) {}

    void post(std::function<void()> task) const
    {
        QObject* context = m_context;
        if (context == nullptr)
            return;
        QMetaObject::invokeMethod(
            context,
            [task = std::move(task)] {
                try {
                    task();
                } catch (...) {
                    // A registry operation does not throw; never let one escape the event loop.
                }
            },
            Qt::QueuedConnection);
    }

private:
    QObject* m_context;
};

} // namespace qb
