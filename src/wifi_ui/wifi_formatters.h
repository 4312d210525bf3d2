#pragma once

#include "wifi/pending_outgoing_file.h"
#include "wifi_ui/phone_activity.h"

#include <QDateTime>
#include <QPointF>
#include <QString>

#include <optional>

namespace qb {

// Texts and figures of the Wi-Fi views, kept free of widgets so they can be checked directly.

// "012 345" for a six-character PIN (characters as the user sees them); any other PIN as stored.
QString formattedPIN(const QString& pin);

// Time left: "—" when unknown, not finite, negative or beyond 64-bit seconds; "<1s", "59s",
// "1m 1s", "2h 2m".
QString formatETA(std::optional<double> seconds);

// An average rate as "1.5 MB/s" (kilobytes to gigabytes); "—" when there is no usable rate.
QString formatRate(double bytesPerSecond);

// The share of a queued file that reached the phone, 0 to 1; 1 once it is completed.
double sendProgress(const PendingOutgoingFile& file);
// The same as a whole percentage, truncated (99.9 % shows 99).
int sendPercent(const PendingOutgoingFile& file);

// "Waiting for phone…", "Sending…", "Delivered", "Failed".
QString sendStatusText(SendStatus status);

// Text from the network (names, hosts, file names, errors) made fit for one line of plain text:
// line breaks and other control characters become spaces. Never interpreted as markup.
QString singleLine(const QString& text);

// What a history row shows under the file's name: the size (kilobytes to gigabytes), the time
// of day in the locale's short format and the subtitle, on one line each.
QStringList activityDetails(const TransferEntry& entry);

// The line under a waiting file's name.
QString waitingForPhoneText();

// The packet animation's phase for a moment: half the seconds since 1 January 2001 UTC, less its
// floor, so 0 <= phase < 1 even for earlier dates.
double animationPhase(const QDateTime& now);

struct PacketState
{
    double opacity = 0;
    QPointF centre;
};

// Where packet `index` (0, 1 or 2) is drawn at `phase` on a picture `width` by `height`: the
// packets travel a third apart over the dotted line between the two badges, fading at both ends.
PacketState packetState(int index, double phase, double width, double height);

} // namespace qb
