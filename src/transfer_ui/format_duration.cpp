#include "transfer_ui/format_duration.h"

#include <cmath>
#include <limits>

namespace qb {

namespace {

// Truncates toward zero; converting a double outside the range of qint64 is undefined.
qint64 truncatedSeconds(double seconds)
{
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (seconds >= limit)
        return std::numeric_limits<qint64>::max();
    if (seconds < -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(seconds);
}

} // namespace

QString formatDuration(double seconds)
{
    if (std::isnan(seconds))
        return {};
    const qint64 s = truncatedSeconds(seconds);
    if (seconds < 60)
        return QStringLiteral("%1s").arg(s);
    if (seconds < 3600) {
        const qint64 m = s / 60;
        return QStringLiteral("%1m %2s").arg(m).arg(s - 60 * m);
    }
    const qint64 h = s / 3600;
    return QStringLiteral("%1h %2m").arg(h).arg((s - 3600 * h) / 60);
}

} // namespace qb
