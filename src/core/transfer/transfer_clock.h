#pragma once

#include <chrono>
#include <functional>

namespace qb {

// The monotonic time the engine measures progress spacing and speed with; tests pass a fake.
// Must be safe to call from any thread.
using TransferClock = std::function<std::chrono::steady_clock::time_point()>;

inline TransferClock steadyTransferClock()
{
    return [] {
        return std::chrono::steady_clock::now();
    };
}

} // namespace qb
