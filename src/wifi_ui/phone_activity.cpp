#include "wifi_ui/phone_activity.h"

#include <QHash>

#include <algorithm>

namespace qb {

QUuid TransferEntry::id() const
{
    return std::visit([](const auto& file) { return file.id; }, record);
}

QUrl TransferEntry::url() const
{
    return std::visit([](const auto& file) { return file.url; }, record);
}

qint64 TransferEntry::bytes() const
{
    return std::visit([](const auto& file) { return file.bytes; }, record);
}

QDateTime TransferEntry::time() const
{
    if (const auto* received = std::get_if<ReceivedFile>(&record))
        return received->receivedAt;
    return std::get<SentFile>(record).sentAt;
}

QString TransferEntry::subtitle() const
{
    if (const auto* received = std::get_if<ReceivedFile>(&record))
        return QStringLiteral("Received \u2022 from ") + received->senderName;
    return QStringLiteral("Sent to phone");
}

size_t qHash(const TransferEntry& entry, size_t seed)
{
    if (const auto* received = std::get_if<ReceivedFile>(&entry.record))
        return qHashMulti(seed, 0, *received);
    return qHashMulti(seed, 1, std::get<SentFile>(entry.record));
}

QList<PendingOutgoingFile> pendingFilesFor(const QString& host,
                                           const QList<PendingOutgoingFile>& files)
{
    QList<PendingOutgoingFile> result;
    for (const PendingOutgoingFile& file : files) {
        if (file.recipientHost == host)
            result << file;
    }
    return result;
}

QList<TransferEntry> activityFor(const QString& host, const QList<ReceivedFile>& received,
                                 const QList<SentFile>& sent)
{
    // Sorted by a key taken once: comparing QDateTime values directly is far slower.
    struct Keyed
    {
        qint64 time;
        TransferEntry entry;
    };
    std::vector<Keyed> keyed;
    for (const ReceivedFile& file : received) {
        if (file.senderHost == host)
            keyed.push_back({file.receivedAt.toMSecsSinceEpoch(), {file}});
    }
    for (const SentFile& file : sent) {
        if (file.recipientHost == host)
            keyed.push_back({file.sentAt.toMSecsSinceEpoch(), {file}});
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& a, const Keyed& b) { return a.time > b.time; });
    QList<TransferEntry> result;
    result.reserve(qsizetype(keyed.size()));
    for (Keyed& item : keyed)
        result << std::move(item.entry);
    return result;
}

} // namespace qb
