#pragma once

#include "wifi/pending_outgoing_file.h"
#include "wifi/received_file.h"
#include "wifi/sent_file.h"

#include <QList>

#include <variant>

namespace qb {

// One line of a phone's history: a file received from it or a file it fetched.
struct TransferEntry
{
    std::variant<ReceivedFile, SentFile> record;

    bool isReceived() const { return std::holds_alternative<ReceivedFile>(record); }
    QUuid id() const;
    QUrl url() const;
    qint64 bytes() const;
    QDateTime time() const; // receivedAt or sentAt
    // "Received • from NAME" or "Sent to phone".
    QString subtitle() const;

    bool operator==(const TransferEntry&) const = default;
};

size_t qHash(const TransferEntry& entry, size_t seed = 0);

// The files queued for `host`, in the registry's order, whatever their status.
QList<PendingOutgoingFile> pendingFilesFor(const QString& host,
                                           const QList<PendingOutgoingFile>& files);

// The history of `host`, newest first; at equal times received entries come before sent ones,
// each in registry order.
QList<TransferEntry> activityFor(const QString& host, const QList<ReceivedFile>& received,
                                 const QList<SentFile>& sent);

} // namespace qb
