#include "core/transfer/progress_rate_gate.h"

#include <utility>

namespace qb {

ProgressRateGate::ProgressRateGate(TransferClock clock, std::chrono::nanoseconds interval)
    : m_clock(std::move(clock)), m_interval(interval)
{}

bool ProgressRateGate::shouldFire()
{
    std::lock_guard lock(m_mutex);
    const auto now = m_clock();
    if (m_lastFired && now - *m_lastFired < m_interval)
        return false;
    m_lastFired = now;
    return true;
}

} // namespace qb
