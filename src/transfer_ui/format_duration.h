#pragma once

#include <QString>

namespace qb {

// The short time-left text of a transfer row: "45s", "1m 5s", "2h 2m". Below a minute the
// seconds (truncated toward zero, so a negative value reads "-3s"), below an hour minutes and
// seconds, above that hours and minutes with no cap on the hours. Values beyond what a 64-bit
// count of seconds holds are read as its limit; NaN gives an empty text.
QString formatDuration(double seconds);

} // namespace qb
