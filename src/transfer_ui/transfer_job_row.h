#pragma once

#include "core/transfer/transfer_job.h"

#include <QList>
#include <QString>

#include <optional>

namespace qb {

// What one row of the transfer queue shows for a job, as plain values: the delegate draws them,
// tests read them without widgets.

enum class RowAction { Pause, Resume, Retry, Cancel };

// The colours of the status table; the delegate maps them onto the palette.
enum class StatusTint { Secondary, Accent, Orange, Green, Red };

QString kindSymbol(TransferType type);
// Plain text, not translated: "↑ to Android", "↓ to Computer", "Move", ...
QString kindLabel(TransferType type);
QString statusSymbol(TransferStatus status);
StatusTint statusTint(TransferStatus status);
// The status in a word, for those who cannot see its symbol and colour: "Queued", "Running",
// "Paused", "Completed", "Failed", "Canceled".
QString statusLabel(TransferStatus status);
QString actionSymbol(RowAction action);
// The buttons show only their image; this is their accessible name ("Pause", "Cancel", ...).
QString actionName(RowAction action);

// The item's name: the phone item's name, or the last component of the local file's path.
QString sourceName(const TransferJob& job);
// Left to right: the action button for the status (if any), then cancel while unfinished.
QList<RowAction> rowActions(TransferStatus status);
// The progress bar and the detail line show while the job runs or is paused.
bool showsProgressSection(TransferStatus status);
// "1.5 MB / 3 MB"
QString byteCountsText(const TransferJob& job);
// Seconds left at the current speed; nothing without a usable speed and total, or when the
// figure would be negative or not finite.
std::optional<double> secondsRemaining(const TransferJob& job);
// "ETA: 3s", or empty when no time left is shown.
QString etaText(const TransferJob& job);
// "500 KB/s" whenever a speed has been sampled (0 included), else empty.
QString speedText(const TransferJob& job);
// The job's error message, or empty.
QString errorText(const TransferJob& job);
// What a screen reader says for the row: the item's name, the kind label and the status word
// ("notes.txt, ↓ to Computer, Failed").
QString accessibleRowName(const TransferJob& job);
// The progress bar's value as a whole percentage, truncated: "45%".
QString progressPercentText(const TransferJob& job);
// Read after the name: what the row shows besides it, the progress section while the job runs
// or is paused ("45%, 450 KB / 1 MB, ETA: 1s, 500 KB/s") and the error line's text.
QString accessibleRowDescription(const TransferJob& job);

} // namespace qb
