#pragma once

#include <QtGlobal>

namespace qb {

// The watchdog's decision, one check at a time: the GUI thread's heartbeat counter is read once
// a second, and six checks in a row without a new beat call for a "not responding" alert (then
// one more every further six).
class FreezeWatchdog
{
public:
    static constexpr int checkIntervalMs = 1000;
    static constexpr int stalledChecksBeforeAlert = 6;

    // One check with the counter's present value; true when a freeze alert is due.
    bool check(quint64 heartbeat);

private:
    quint64 m_last = 0;
    int m_stalledChecks = 0;
};

} // namespace qb
