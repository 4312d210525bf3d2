#pragma once

#include "platform/process_runner.h"

#include <mutex>

namespace qb {

// Records each run and answers with `result`. Safe to call from any thread.
class ScriptedProcessRunner : public ProcessRunner
{
public:
    struct Call
    {
        QString program;
        QStringList arguments;
    };

    explicit ScriptedProcessRunner(ProcessResult answer = {true, 0, false, false})
        : m_answer(answer)
    {}

    ProcessResult run(const QString& program, const QStringList& arguments) override
    {
        std::lock_guard lock(m_mutex);
        m_calls.append({program, arguments});
        return m_answer;
    }

    QList<Call> calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    mutable std::mutex m_mutex;
    ProcessResult m_answer;
    QList<Call> m_calls;
};

} // namespace qb
