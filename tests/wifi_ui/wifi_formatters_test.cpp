#include "wifi_ui/wifi_formatters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qb {
namespace {

TEST(WiFiFormatters, PINIsGroupedOnlyWhenItHasSixCharacters)
{
    const std::pair<QString, QString> cases[] = {
        {"012345", "012 345"},
        {"12345", "12345"},
        {"1234567", "1234567"},
        {"", ""},
        // Six characters as the user sees them, though more UTF-16 units.
        {QString::fromUtf8("12e\u03013\xF0\x9F\x98\x80"
                           "5"),
         QString::fromUtf8("12e\u0301 3\xF0\x9F\x98\x80"
                           "5")},
    };
    for (const auto& [pin, shown] : cases)
        EXPECT_EQ(formattedPIN(pin), shown) << pin.toStdString();
}

TEST(WiFiFormatters, TimeLeftIncludingGuardsForUnusableFigures)
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<std::optional<double>, QString> cases[] = {
        {std::nullopt, "\u2014"},
        {-0.5, "\u2014"},
        {inf, "\u2014"},
        {std::nan(""), "\u2014"},
        {1e19, "\u2014"}, // beyond 64-bit seconds: no undefined conversion
        {0.0, "<1s"},
        {59.9, "59s"},
        {60.0, "1m 0s"},
        {3599.9, "59m 59s"},
        {3600.0, "1h 0m"},
        {7322.0, "2h 2m"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(formatETA(seconds), text) << seconds.value_or(-1);
}

TEST(WiFiFormatters, RatesInDecimalUnitsWithGuards)
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, QString> cases[] = {
        {0, "\u2014"},    {-5, "\u2014"},          {std::nan(""), "\u2014"},
        {inf, "\u2014"},  {3e19, "\u2014"},        {200.7, "0.2 KB/s"},
        {1500, "2 KB/s"}, {1'500'000, "1.5 MB/s"}, {2.5e9, "2.5 GB/s"},
    };
    for (const auto& [rate, text] : cases)
        EXPECT_EQ(formatRate(rate), text) << rate;
}

// Also guards the figures a row shows them from: no rate within a quarter second of the start,
// none from a clock stepped back, and no negative time left for a file that grew.
TEST(WiFiFormatters, ProgressRateAndTimeLeftOfARow)
{
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    const struct
    {
        qint64 bytes, sentBytes;
        std::optional<qint64> afterMs; // none: not started
        int percent;
        QString rate, timeLeft;
    } rows[] = {
        {1000, 999, std::nullopt, 99, "\u2014", "\u2014"},
        {0, 0, 1000, 0, "\u2014", "\u2014"}, // size unreadable when queued
        {3'000'000, 100, 250, 0, "\u2014", "\u2014"},
        {3'000'000, 1'000'000, 2000, 33, "500 KB/s", "4s"},
        {1000, 4000, 2000, 100, "2 KB/s", "<1s"},
        {1000, 4000, -60'000, 100, "\u2014", "\u2014"},
        // A huge file at a crawl: a time beyond any integer.
        {std::numeric_limits<qint64>::max(), 1, 1'000'000'000, 0, "Zero KB/s", "\u2014"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sentBytes);
        PendingOutgoingFile file;
        file.status = SendStatus::Sending;
        file.bytes = row.bytes;
        file.sentBytes = row.sentBytes;
        if (row.afterMs)
            file.sendStartedAt = start;
        const QDateTime now = start.addMSecs(row.afterMs.value_or(0));
        EXPECT_EQ(sendPercent(file), row.percent);
        EXPECT_EQ(formatRate(file.bytesPerSecond(now)), row.rate);
        EXPECT_EQ(formatETA(file.etaSeconds(now)), row.timeLeft);
        file.status = SendStatus::Completed;
        EXPECT_EQ(sendPercent(file), 100);
    }
}

TEST(WiFiFormatters, AnimationPhaseAndPackets)
{
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_DOUBLE_EQ(animationPhase(reference), 0);
    EXPECT_DOUBLE_EQ(animationPhase(reference.addMSecs(500)), 0.25);
    EXPECT_DOUBLE_EQ(animationPhase(reference.addMSecs(2500)), 0.25);
    // Before 2001 (or a clock set back) the phase stays within [0, 1).
    EXPECT_DOUBLE_EQ(animationPhase(reference.addMSecs(-500)), 0.75);
    const double old = animationPhase(QDateTime(QDate(1990, 5, 1), QTime(3, 4, 5, 100), Qt::UTC));
    EXPECT_GE(old, 0);
    EXPECT_LT(old, 1);

    PacketState first = packetState(0, 0, 428, 110);
    EXPECT_DOUBLE_EQ(first.opacity, 0);
    EXPECT_EQ(first.centre, QPointF(64, 55));
    EXPECT_NEAR(packetState(0, 0.05, 428, 110).opacity, 0.5, 1e-9);
    EXPECT_NEAR(packetState(0, 0.95, 428, 110).opacity, 0.5, 1e-9);
    const PacketState second = packetState(1, 0, 428, 110);
    EXPECT_DOUBLE_EQ(second.opacity, 1);
    EXPECT_NEAR(second.centre.x(), 64 + 300.0 / 3, 1e-9);
    // Narrower than the two badges: the line has no length and every packet sits at 64.
    EXPECT_EQ(packetState(1, 0.4, 100, 110).centre, QPointF(64, 55));
}

} // namespace
} // namespace qb
