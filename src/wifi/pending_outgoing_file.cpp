#include "wifi/pending_outgoing_file.h"

#include <QHash>

#include <algorithm>

namespace qb {

QString toText(SendStatus status)
{
    switch (status) {
    case SendStatus::Waiting:
        return QStringLiteral("waiting");
    case SendStatus::Sending:
        return QStringLiteral("sending");
    case SendStatus::Completed:
        return QStringLiteral("completed");
    case SendStatus::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

std::optional<SendStatus> sendStatusFromText(const QString& text)
{
    for (SendStatus status :
         {SendStatus::Waiting, SendStatus::Sending, SendStatus::Completed, SendStatus::Failed}) {
        if (toText(status) == text)
            return status;
    }
    return std::nullopt;
}

double PendingOutgoingFile::bytesPerSecond(const QDateTime& now) const
{
    if (!sendStartedAt || sentBytes < 1)
        return 0;
    // Below a quarter second the rate would divide by next to nothing.
    const double elapsed = double(sendStartedAt->msecsTo(now)) / 1000.0;
    if (elapsed <= 0.25)
        return 0;
    return double(sentBytes) / elapsed;
}

std::optional<double> PendingOutgoingFile::etaSeconds(const QDateTime& now) const
{
    const double rate = bytesPerSecond(now);
    if (rate <= 0)
        return std::nullopt;
    return double(std::max<qint64>(bytes - sentBytes, 0)) / rate;
}

size_t qHash(const PendingOutgoingFile& file, size_t seed)
{
    return qHashMulti(seed, file.id, file.url, file.recipientHost, file.queuedAt, file.bytes,
                      file.sentBytes, int(file.status), file.sendStartedAt.value_or(QDateTime()),
                      file.sendStartedAt.has_value());
}

} // namespace qb
