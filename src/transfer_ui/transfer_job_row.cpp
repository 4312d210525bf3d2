#include "transfer_ui/transfer_job_row.h"

#include "transfer_ui/format_duration.h"
#include "ui_common/byte_count_format.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qb {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("TransferJobRow", text);
}

// Truncates a speed toward zero; nothing for NaN or a negative figure, and the largest count
// for one beyond 64 bits (converting such a double is undefined).
std::optional<qint64> wholeBytesPerSecond(double speed)
{
    if (std::isnan(speed) || speed < 0)
        return std::nullopt;
    if (speed >= 9223372036854775808.0) // 2^63
        return std::numeric_limits<qint64>::max();
    return static_cast<qint64>(speed);
}

} // namespace

QString kindSymbol(TransferType type)
{
    switch (type) {
    case TransferType::Upload:
        return QStringLiteral("arrow.up.circle");
    case TransferType::Download:
        return QStringLiteral("arrow.down.circle");
    case TransferType::Move:
        return QStringLiteral("arrow.right.circle");
    case TransferType::Copy:
        return QStringLiteral("doc.on.doc");
    case TransferType::Delete:
        return QStringLiteral("trash.circle");
    case TransferType::CreateFolder:
        return QStringLiteral("folder.badge.plus");
    }
    return {};
}

QString kindLabel(TransferType type)
{
    switch (type) {
    case TransferType::Upload:
        return QStringLiteral("\u2191 to Android");
    case TransferType::Download:
        return QStringLiteral("\u2193 to Computer");
    case TransferType::Move:
        return QStringLiteral("Move");
    case TransferType::Copy:
        return QStringLiteral("Copy");
    case TransferType::Delete:
        return QStringLiteral("Delete");
    case TransferType::CreateFolder:
        return QStringLiteral("Create folder");
    }
    return {};
}

QString statusSymbol(TransferStatus status)
{
    switch (status) {
    case TransferStatus::Queued:
        return QStringLiteral("clock");
    case TransferStatus::Running:
        return QStringLiteral("arrow.trianglehead.2.clockwise");
    case TransferStatus::Paused:
        return QStringLiteral("pause.circle");
    case TransferStatus::Completed:
        return QStringLiteral("checkmark.circle.fill");
    case TransferStatus::Failed:
        return QStringLiteral("exclamationmark.circle.fill");
    case TransferStatus::Canceled:
        return QStringLiteral("xmark.circle");
    }
    return {};
}

StatusTint statusTint(TransferStatus status)
{
    switch (status) {
    case TransferStatus::Running:
        return StatusTint::Accent;
    case TransferStatus::Paused:
        return StatusTint::Orange;
    case TransferStatus::Completed:
        return StatusTint::Green;
    case TransferStatus::Failed:
        return StatusTint::Red;
    case TransferStatus::Queued:
    case TransferStatus::Canceled:
        break;
    }
    return StatusTint::Secondary;
}

QString statusLabel(TransferStatus status)
{
    switch (status) {
    case TransferStatus::Queued:
        return tr("Queued");
    case TransferStatus::Running:
        return tr("Running");
    case TransferStatus::Paused:
        return tr("Paused");
    case TransferStatus::Completed:
        return tr("Completed");
    case TransferStatus::Failed:
        return tr("Failed");
    case TransferStatus::Canceled:
        return tr("Canceled");
    }
    return {};
}

QString actionSymbol(RowAction action)
{
    switch (action) {
    case RowAction::Pause:
        return QStringLiteral("pause.fill");
    case RowAction::Resume:
        return QStringLiteral("play.fill");
    case RowAction::Retry:
        return QStringLiteral("arrow.clockwise");
    case RowAction::Cancel:
        return QStringLiteral("xmark.circle.fill");
    }
    return {};
}

QString actionName(RowAction action)
{
    switch (action) {
    case RowAction::Pause:
        return tr("Pause");
    case RowAction::Resume:
        return tr("Resume");
    case RowAction::Retry:
        return tr("Retry");
    case RowAction::Cancel:
        return tr("Cancel");
    }
    return {};
}

QString sourceName(const TransferJob& job)
{
    if (job.source.kind == TransferEndpoint::Kind::Android)
        return job.source.name;
    QString path = job.source.url.path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QList<RowAction> rowActions(TransferStatus status)
{
    QList<RowAction> actions;
    if (status == TransferStatus::Running)
        actions.append(RowAction::Pause);
    else if (status == TransferStatus::Paused)
        actions.append(RowAction::Resume);
    else if (status == TransferStatus::Failed)
        actions.append(RowAction::Retry);
    if (!isFinished(status))
        actions.append(RowAction::Cancel);
    return actions;
}

bool showsProgressSection(TransferStatus status)
{
    return status == TransferStatus::Running || status == TransferStatus::Paused;
}

QString byteCountsText(const TransferJob& job)
{
    return formatByteCount(job.bytesTransferred) + QStringLiteral(" / ") +
           formatByteCount(job.totalBytes);
}

std::optional<double> secondsRemaining(const TransferJob& job)
{
    if (!job.transferSpeed || !(*job.transferSpeed > 0) || job.totalBytes < 1)
        return std::nullopt;
    // Byte counts can overtake the expected total (libmtp counts its container headers too);
    // that is no time left to show, not a negative one.
    const double seconds =
        (double(job.totalBytes) - double(job.bytesTransferred)) / *job.transferSpeed;
    if (!std::isfinite(seconds) || seconds < 0)
        return std::nullopt;
    return seconds;
}

QString etaText(const TransferJob& job)
{
    const std::optional<double> seconds = secondsRemaining(job);
    if (!seconds)
        return {};
    return QCoreApplication::translate("TransferJobRow", "ETA: %1").arg(formatDuration(*seconds));
}

QString speedText(const TransferJob& job)
{
    if (!job.transferSpeed)
        return {};
    const std::optional<qint64> speed = wholeBytesPerSecond(*job.transferSpeed);
    if (!speed)
        return {};
    return formatByteCount(*speed) + QStringLiteral("/s");
}

QString errorText(const TransferJob& job)
{
    return job.error ? job.error->localizedMessage : QString();
}

QString accessibleRowName(const TransferJob& job)
{
    return QStringList{sourceName(job), kindLabel(job.type), statusLabel(job.status)}.join(
        QStringLiteral(", "));
}

QString progressPercentText(const TransferJob& job)
{
    const double progress = std::isfinite(job.progress) ? std::clamp(job.progress, 0.0, 1.0) : 0.0;
    return QStringLiteral("%1%").arg(int(progress * 100));
}

QString accessibleRowDescription(const TransferJob& job)
{
    QStringList parts;
    if (showsProgressSection(job.status)) {
        parts << progressPercentText(job) << byteCountsText(job) << etaText(job) << speedText(job);
    }
    parts << errorText(job);
    parts.removeAll(QString());
    return parts.join(QStringLiteral(", "));
}

} // namespace qb
