#include "ui_common/byte_count_format.h"

#include <QLocale>

#include <array>
#include <cmath>

namespace qb {

namespace {

QString number(double value, int decimals)
{
    QString text = QLocale().toString(value, 'f', decimals);
    const QChar point = QLocale().decimalPoint().at(0);
    if (decimals > 0 && text.contains(point)) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(point))
            text.chop(1);
    }
    return text;
}

} // namespace

QString formatByteCount(qint64 bytes, ByteUnits units)
{
    static const std::array<const char*, 6> names{"KB", "MB", "GB", "TB", "PB", "EB"};
    const bool allowBytes = units == ByteUnits::All;
    const int lastUnit = units == ByteUnits::All ? int(names.size()) - 1 : 2;
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const double magnitude = std::fabs(double(bytes));
    if (allowBytes && magnitude < 1000)
        return bytes == 1 || bytes == -1 ? QStringLiteral("%1 byte").arg(bytes)
                                         : QStringLiteral("%1 bytes").arg(bytes);

    double value = double(bytes) / 1000.0;
    int unit = 0;
    while (unit < lastUnit) {
        const int decimals = unit == 0 ? 0 : (unit == 1 ? 1 : 2);
        const double rounded =
            std::round(std::fabs(value) * std::pow(10, decimals)) / std::pow(10, decimals);
        if (rounded < 1000)
            break;
        value /= 1000.0;
        ++unit;
    }
    int decimals = unit == 0 ? 0 : (unit == 1 ? 1 : 2);
    if (std::fabs(value) < 1 && unit == 0)
        decimals = 1; // 200 bytes where bytes are not allowed: "0.2 KB" rather than "0 KB"
    return number(value, decimals) + QLatin1Char(' ') + QLatin1String(names[size_t(unit)]);
}

} // namespace qb
