#include "app/freeze_watchdog.h"

namespace qb {

bool FreezeWatchdog::check(quint64 heartbeat)
{
    if (heartbeat != m_last) {
        m_last = heartbeat;
        m_stalledChecks = 0;
        return false;
    }
    if (++m_stalledChecks < stalledChecksBeforeAlert)
        return false;
    m_stalledChecks = 0;
    return true;
}

} // namespace qb
