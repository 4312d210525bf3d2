#include "wifi/pin_attempt_limiter.h"

#include <algorithm>

namespace qb {

PinAttemptLimiter::PinAttemptLimiter(Limits limits) : m_limits(limits) {}

bool PinAttemptLimiter::beginAttempt(const QString& host, qint64 nowMs, qint64* retryAfterMs)
{
    const auto refuse = [retryAfterMs](qint64 waitMs) {
        if (retryAfterMs)
            *retryAfterMs = std::max<qint64>(waitMs, 1);
        return false;
    };
    QMutexLocker lock(&m_mutex);
    while (!m_recentFailures.empty() && m_recentFailures.front() <= nowMs - m_limits.windowMs) {
        m_recentFailures.pop_front();
    }
    const auto inWindow = qsizetype(m_recentFailures.size());
    if (inWindow >= m_limits.failuresInWindow) {
        // Open again once enough of the burst's failures have left the window.
        return refuse(m_recentFailures[inWindow - m_limits.failuresInWindow] + m_limits.windowMs -
                      nowMs);
    }
    if (!m_hosts.contains(host)) {
        forgetOldHosts(nowMs);
    }
    HostState& state = m_hosts[host];
    state.lastSeenMs = nowMs;
    if (nowMs < state.lockedUntilMs) {
        return refuse(state.lockedUntilMs - nowMs);
    }
    while (!state.inFlightSinceMs.empty() &&
           state.inFlightSinceMs.front() <= nowMs - m_limits.staleAttemptMs) {
        state.inFlightSinceMs.pop_front();
    }
    // Attempts still being checked count, so parallel requests cannot exceed the limit.
    if (state.failures + int(state.inFlightSinceMs.size()) >= m_limits.failuresPerHost) {
        return refuse(state.inFlightSinceMs.empty()
                          ? 1
                          : state.inFlightSinceMs.front() + m_limits.staleAttemptMs - nowMs);
    }
    state.inFlightSinceMs.push_back(nowMs);
    return true;
}

bool PinAttemptLimiter::recordFailure(const QString& host, qint64 nowMs)
{
    QMutexLocker lock(&m_mutex);
    m_recentFailures.push_back(nowMs);
    HostState& state = m_hosts[host];
    if (!state.inFlightSinceMs.empty()) {
        state.inFlightSinceMs.pop_front();
    }
    state.lastSeenMs = nowMs;
    if (++state.failures < m_limits.failuresPerHost) {
        return false;
    }
    const int doublings = std::min(state.lockouts, 30);
    state.lockedUntilMs =
        nowMs + std::min(m_limits.firstLockoutMs << doublings, m_limits.maxLockoutMs);
    ++state.lockouts;
    state.failures = 0;
    return true;
}

void PinAttemptLimiter::recordSuccess(const QString& host)
{
    QMutexLocker lock(&m_mutex);
    m_hosts.remove(host);
}

void PinAttemptLimiter::forgetOldHosts(qint64 nowMs)
{
    if (m_hosts.size() < m_limits.maxTrackedHosts) {
        return;
    }
    // Hosts neither locked out nor recently active are the first to be forgotten.
    for (auto it = m_hosts.begin(); it != m_hosts.end();) {
        const bool idle = it->inFlightSinceMs.empty() && it->lockedUntilMs <= nowMs &&
                          it->lastSeenMs <= nowMs - m_limits.windowMs;
        it = idle ? m_hosts.erase(it) : std::next(it);
    }
    if (m_hosts.size() >= m_limits.maxTrackedHosts) {
        auto oldest = std::min_element(
            m_hosts.begin(), m_hosts.end(),
            [](const HostState& a, const HostState& b) { return a.lastSeenMs < b.lastSeenMs; });
        m_hosts.erase(oldest);
    }
}

} // namespace qb
