#pragma once

#include "platform/process_runner.h"

#include <QStringList>

#include <mutex>

namespace qb {

// Records each command instead of running it and answers with `answer`. Safe from any thread.
class ScriptedProcessRunner : public ProcessRunner
{
public:
    explicit ScriptedProcessRunner(ProcessResult answer = {true, 0, false, false})
        : m_answer(answer)
    {}

    ProcessResult run(const QString& program, const QStringList& arguments) override
    {
        std::lock_guard lock(m_mutex);
        m_calls.append(QStringList{program} + arguments);
        return m_answer;
    }

    void setAnswer(ProcessResult answer)
    {
        std::lock_guard lock(m_mutex);
        m_answer = answer;
    }

    // Each call as the program followed by its arguments.
    QList<QStringList> calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    // Each call as one line.
    QStringList commands() const
    {
        QStringList lines;
        for (const QStringList& call : calls())
            lines.append(call.join(u' '));
        return lines;
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
    }

    // What the USB code runs to keep the desktop's MTP volume monitor off the phone.
    static inline const QString kStop =
        QStringLiteral("/usr/bin/systemctl --user stop gvfs-mtp-volume-monitor.service");
    static inline const QString kKill = QStringLiteral("/usr/bin/pkill -9 -x gvfsd-mtp");
    static inline const QString kStart =
        QStringLiteral("/usr/bin/systemctl --user start gvfs-mtp-volume-monitor.service");

private:
    mutable std::mutex m_mutex;
    ProcessResult m_answer;
    QList<QStringList> m_calls;
};

// The USB tests' name for it.
using FakeProcessRunner = ScriptedProcessRunner;

} // namespace qb
