#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

#include <deque>

namespace qb {

// Keeps a six-digit PIN from being guessed: a host that sends too many wrong PINs is locked out
// for a period that doubles with each lock-out, and too many wrong PINs from all hosts together
// lock everybody out until the burst is over. Times are milliseconds of a monotonic clock, so a
// change of the wall clock neither lengthens nor ends a lock-out. Thread-safe.
class PinAttemptLimiter
{
public:
    struct Limits
    {
        int failuresPerHost = 5;
        qint64 firstLockoutMs = 30'000;
        qint64 maxLockoutMs = 3'600'000;
        int failuresInWindow = 30; // from all hosts together
        qint64 windowMs = 60'000;
        int maxTrackedHosts = 4096;
        // An attempt whose outcome never came back (its connection went away) stops counting.
        qint64 staleAttemptMs = 30'000;
    };

    PinAttemptLimiter() : PinAttemptLimiter(Limits{}) {}
    explicit PinAttemptLimiter(Limits limits);

    // Whether a PIN from `host` may be checked now; an allowed attempt is to be followed by
    // `recordFailure()` or `recordSuccess()`. A refused one sets `retryAfterMs`, when given, to
    // the time until the limit that refused it lets it through (at least 1).
    bool beginAttempt(const QString& host, qint64 nowMs, qint64* retryAfterMs = nullptr);
    // True when the host has used up its attempts: it is locked out from now.
    bool recordFailure(const QString& host, qint64 nowMs);
    void recordSuccess(const QString& host);

private:
    struct HostState
    {
        int failures = 0;
        std::deque<qint64> inFlightSinceMs;
        int lockouts = 0;
        qint64 lockedUntilMs = 0;
        qint64 lastSeenMs = 0;
    };

    void forgetOldHosts(qint64 nowMs);

    Limits m_limits;
    QMutex m_mutex;
    QHash<QString, HostState> m_hosts;
    std::deque<qint64> m_recentFailures;
};

} // namespace qb
