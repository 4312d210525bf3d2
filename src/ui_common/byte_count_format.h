#pragma once

#include <QString>
#include <QtGlobal>

namespace qb {

enum class ByteUnits {
    All,                  // bytes upward
    KilobytesToGigabytes, // no bytes (a 200-byte file shows in kilobytes), nothing above GB
};

// A byte count in decimal units (1 KB = 1,000 bytes), the unit chosen to fit the value:
// "Zero KB", "1 byte", "532 bytes", "2 KB", "1.5 MB", "1.23 GB". Kilobytes show no fraction,
// megabytes one digit, larger units two; trailing zeros are dropped.
QString formatByteCount(qint64 bytes, ByteUnits units = ByteUnits::All);

} // namespace qb
