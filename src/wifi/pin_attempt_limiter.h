#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

#include <deque>

namespace qb {

// Keeps a six-digit PIN from being guessed: a host that sends too many wrong PINs is locked out
// for a period that doubles with each lock-out (and its PIN must be replaced), and too many wrong
// PINs from all hosts together lock everybody out until the burst is over. Thread-safe.
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
    // `recordFailure()` or `recordSuccess()`.
    bool beginAttempt(const QString& host, qint64 nowMs);
    // True when the host has used up its attempts: it is locked out and needs a new PIN.
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
