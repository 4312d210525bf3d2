#include "wifi_ui/wifi_formatters.h"

#include "ui_common/byte_count_format.h"

#include <QLocale>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

namespace qb {

namespace {

const QString kDash = QStringLiteral("\u2014");

// 2^63: from here on a conversion to a 64-bit integer is undefined.
constexpr double kInt64Limit = 9223372036854775808.0;

bool fitsInt64(double value)
{
    return std::isfinite(value) && value > -kInt64Limit && value < kInt64Limit;
}

// Positions of the grapheme boundaries of `text`, its start and end included.
QList<qsizetype> graphemeBoundaries(const QString& text)
{
    QList<qsizetype> boundaries;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at != -1; at = finder.toNextBoundary())
        boundaries << at;
    boundaries.prepend(0);
    return boundaries;
}

} // namespace

QString formattedPIN(const QString& pin)
{
    const QList<qsizetype> boundaries = graphemeBoundaries(pin);
    if (boundaries.size() != 7)
        return pin;
    return pin.left(boundaries[3]) + u' ' + pin.mid(boundaries[3]);
}

QString formatETA(std::optional<double> seconds)
{
    if (!seconds || !fitsInt64(*seconds) || *seconds < 0)
        return kDash;
    const double x = *seconds;
    if (x < 1)
        return QStringLiteral("<1s");
    const qint64 s = qint64(x);
    if (x < 60)
        return QStringLiteral("%1s").arg(s);
    const qint64 m = s / 60;
    if (s <= 3599)
        return QStringLiteral("%1m %2s").arg(m).arg(s - 60 * m);
    return QStringLiteral("%1h %2m").arg(m / 60).arg(m % 60);
}

QString formatRate(double bytesPerSecond)
{
    if (!fitsInt64(bytesPerSecond) || !(bytesPerSecond > 0))
        return kDash;
    return formatByteCount(qint64(bytesPerSecond), ByteUnits::KilobytesToGigabytes) +
           QStringLiteral("/s");
}

double sendProgress(const PendingOutgoingFile& file)
{
    if (file.status == SendStatus::Completed)
        return 1;
    if (file.bytes <= 0)
        return 0;
    return std::clamp(double(file.sentBytes) / double(file.bytes), 0.0, 1.0);
}

int sendPercent(const PendingOutgoingFile& file)
{
    return int(sendProgress(file) * 100);
}

QString sendStatusText(SendStatus status)
{
    switch (status) {
    case SendStatus::Waiting:
        return QStringLiteral("Waiting for phone\u2026");
    case SendStatus::Sending:
        return QStringLiteral("Sending\u2026");
    case SendStatus::Completed:
        return QStringLiteral("Delivered");
    case SendStatus::Failed:
        return QStringLiteral("Failed");
    }
    return {};
}

QString singleLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            c = u' ';
    }
    return line;
}

double animationPhase(const QDateTime& now)
{
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    const double x = double(reference.msecsTo(now)) / 1000.0 * 0.5;
    return x - std::floor(x);
}

PacketState packetState(int index, double phase, double width, double height)
{
    const double shifted = phase + double(index) / 3.0;
    const double p = shifted - std::floor(shifted);
    double opacity = 1;
    if (p < 0.1)
        opacity = p / 0.1;
    else if (p > 0.9)
        opacity = (1 - p) / 0.1;
    const double length = std::max(width - 128, 0.0);
    return {opacity, QPointF(64 + length * p, height / 2)};
}

QStringList activityDetails(const TransferEntry& entry)
{
    return {formatByteCount(entry.bytes(), ByteUnits::KilobytesToGigabytes),
            QLocale().toString(entry.time().toLocalTime().time(), QLocale::ShortFormat),
            singleLine(entry.subtitle())};
}

QString waitingForPhoneText()
{
    return QStringLiteral("Waiting for phone to download");
}

} // namespace qb
