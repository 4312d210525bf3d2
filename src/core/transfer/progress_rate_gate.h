#pragma once

#include "core/transfer/transfer_clock.h"

#include <chrono>
#include <mutex>
#include <optional>

namespace qb {

// Lets at most one progress report through per interval. Called on whatever thread the device
// reports from, so the check and the update of the last firing time happen under one lock.
class ProgressRateGate
{
public:
    static constexpr std::chrono::milliseconds defaultInterval{100};

    explicit ProgressRateGate(TransferClock clock = steadyTransferClock(),
                              std::chrono::nanoseconds interval = defaultInterval);

    // The first report always passes; later ones once a whole interval has elapsed.
    bool shouldFire();

private:
    std::mutex m_mutex;
    TransferClock m_clock;
    std::chrono::nanoseconds m_interval;
    std::optional<std::chrono::steady_clock::time_point> m_lastFired;
};

} // namespace qb
