// The texts and buttons a transfer row shows, the time-left text and the ring's arc.
#include "transfer_ui/format_duration.h"
#include "transfer_ui/transfer_job_row.h"
#include "transfer_ui/transfer_ring_icon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qb {
namespace {

TEST(FormatDurationTest, BandsAndGuards)
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, QString>> cases{
        {0, "0s"},
        {59.99, "59s"},
        {60, "1m 0s"},
        {3599.5, "59m 59s"},
        {3600, "1h 0m"},
        {90000, "25h 0m"},
        {-120, "-120s"},
        // Beyond 64 bits the count saturates instead of converting out of range.
        {1e30, "2562047788015215h 30m"},
        {inf, "2562047788015215h 30m"},
        {-inf, "-9223372036854775808s"},
        {std::nan(""), ""},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(formatDuration(seconds), text) << seconds;
}

TransferJob running(qint64 done, qint64 total, std::optional<double> speed)
{
    TransferJob job = TransferJob::make(
        TransferType::Download, TransferEndpoint::android("dev", "65537/12", "clip.mp4"),
        TransferEndpoint::local(QUrl::fromLocalFile("/home/u/Downloads")), total);
    job.status = TransferStatus::Running;
    job.bytesTransferred = done;
    job.transferSpeed = speed;
    return job;
}

TEST(TransferJobRowTest, DetailLineShowsTimeLeftOnlyWhenItMeansSomething)
{
    struct Case
    {
        TransferJob job;
        QString bytes, eta, speed;
    };
    const double nan = std::nan("");
    const std::vector<Case> cases{
        {running(1'500'000, 3'000'000, 500'000), "1.5 MB / 3 MB", "ETA: 3s", "500 KB/s"},
        {running(0, 3'000'000, std::nullopt), "Zero KB / 3 MB", "", ""},
        {running(10, 3'000'000, 0), "10 bytes / 3 MB", "", "Zero KB/s"},
        {running(10, 0, 2000), "10 bytes / Zero KB", "", "2 KB/s"},
        {running(3'000'000, 3'000'000, 1000), "3 MB / 3 MB", "ETA: 0s", "1 KB/s"},
        // Regressions: more bytes than the total, a NaN or huge speed gave garbage.
        {running(3'000'016, 3'000'000, 1000), "3 MB / 3 MB", "", "1 KB/s"},
        {running(10, 3'000'000, nan), "10 bytes / 3 MB", "", ""},
        {running(10, 3'000'000, -5), "10 bytes / 3 MB", "", ""},
        {running(10, 3'000'000, 1e-320), "10 bytes / 3 MB", "", "Zero KB/s"},
        {running(0, 1'000'000, 1e30), "Zero KB / 1 MB", "ETA: 0s", "9.22 EB/s"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(byteCountsText(c.job), c.bytes);
        EXPECT_EQ(etaText(c.job), c.eta) << c.bytes.toStdString();
        EXPECT_EQ(speedText(c.job), c.speed) << c.bytes.toStdString();
    }
}

TEST(TransferJobRowTest, ButtonsProgressAndErrorFollowTheStatus)
{
    using A = RowAction;
    const std::vector<std::pair<TransferStatus, QList<RowAction>>> cases{
        {TransferStatus::Queued, {A::Cancel}},
        {TransferStatus::Running, {A::Pause, A::Cancel}},
        {TransferStatus::Paused, {A::Resume, A::Cancel}},
        {TransferStatus::Completed, {}},
        {TransferStatus::Failed, {A::Retry}},
        {TransferStatus::Canceled, {}},
    };
    for (const auto& [status, actions] : cases) {
        EXPECT_EQ(rowActions(status), actions) << toText(status).toStdString();
        EXPECT_EQ(showsProgressSection(status),
                  status == TransferStatus::Running || status == TransferStatus::Paused);
    }
    EXPECT_EQ(actionName(A::Cancel), "Cancel");
    EXPECT_EQ(statusTint(TransferStatus::Failed), StatusTint::Red);

    TransferJob failed = running(0, 10, std::nullopt);
    EXPECT_EQ(errorText(failed), "");
    failed.error = TransferError{"Download failed: PTP I/O Error"};
    EXPECT_EQ(errorText(failed), "Download failed: PTP I/O Error");
}

TEST(TransferJobRowTest, AScreenReaderHearsTheStatusAndTheError)
{
    const std::vector<std::pair<TransferStatus, QString>> words{
        {TransferStatus::Queued, "Queued"}, {TransferStatus::Running, "Running"},
        {TransferStatus::Paused, "Paused"}, {TransferStatus::Completed, "Completed"},
        {TransferStatus::Failed, "Failed"}, {TransferStatus::Canceled, "Canceled"},
    };
    TransferJob job = running(0, 10, std::nullopt);
    for (const auto& [status, word] : words) {
        job.status = status;
        EXPECT_EQ(accessibleRowName(job),
                  QString::fromUtf8("clip.mp4, \u2193 to Computer, ") + word);
        // While it runs or is paused, what its progress section shows.
        EXPECT_EQ(accessibleRowDescription(job),
                  showsProgressSection(status) ? "0%, Zero KB / 10 bytes" : "");
    }
    job.error = TransferError{"Download failed: PTP I/O Error"};
    EXPECT_EQ(accessibleRowDescription(job), "Download failed: PTP I/O Error");
}

TEST(TransferJobRowTest, KindLabelsAndSourceNames)
{
    EXPECT_EQ(kindLabel(TransferType::Upload), QString::fromUtf8("\u2191 to Android"));

    EXPECT_EQ(sourceName(running(0, 0, std::nullopt)), "clip.mp4");
    const auto local = [](const QString& path) {
        TransferJob job;
        job.source = TransferEndpoint::local(QUrl::fromLocalFile(path));
        return sourceName(job);
    };
    EXPECT_EQ(local("/home/u/report final.pdf"), "report final.pdf");
    EXPECT_EQ(local("/home/u/Photos/"), "Photos");
}

TEST(TransferRingIconTest, ArcStartsAtTheTopAndRunsClockwise)
{
    EXPECT_EQ(TransferRingIcon::arcFor(0).spanDegrees, 0);
    EXPECT_EQ(TransferRingIcon::arcFor(0.25).startDegrees, 90);
    EXPECT_EQ(TransferRingIcon::arcFor(0.25).spanDegrees, -90);
    EXPECT_EQ(TransferRingIcon::arcFor(1).spanDegrees, -360);
    EXPECT_EQ(TransferRingIcon::arcFor(std::nan("")).spanDegrees, 0);
}

} // namespace
} // namespace qb
