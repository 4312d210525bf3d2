#pragma once

#include <QObject>

class QSocketNotifier;

namespace qb {

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the thread that created it, so the
// application can quit through its event loop (and shut down in order) instead of dying where
// it stands. One instance at a time; the default dispositions return when it is destroyed.
class QuitSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignalWatcher(QObject* parent = nullptr);
    ~QuitSignalWatcher() override;

signals:
    void quitRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace qb
