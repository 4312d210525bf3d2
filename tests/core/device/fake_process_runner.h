#pragma once

#include "platform/process_runner.h"

#include <QStringList>

#include <mutex>

namespace qb {

// Records every command instead of running it; no real process is ever touched.
class FakeProcessRunner : public ProcessRunner
{
public:
    ProcessResult run(const QString& program, const QStringList& arguments) override
    {
        std::lock_guard lock(m_mutex);
        m_commands.append((QStringList{program} + arguments).join(u' '));
        return {true, 0, false, false};
    }

    QStringList commands() const
    {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_commands.clear();
    }

    static inline const QString kStop =
        QStringLiteral("/usr/bin/systemctl --user stop gvfs-mtp-volume-monitor.service");
    static inline const QString kKill = QStringLiteral("/usr/bin/pkill -9 -x gvfsd-mtp");
    static inline const QString kStart =
        QStringLiteral("/usr/bin/systemctl --user start gvfs-mtp-volume-monitor.service");

private:
    mutable std::mutex m_mutex;
    QStringList m_commands;
};

} // namespace qb
