#pragma once

#include "wifi/pending_outgoing_file.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace qb {

// What the server's connections need of the registries on the GUI thread. Calls come from
// connection threads (recordReceived() from the thread that commits an upload). The posted ones
// return at once and run on the GUI thread in the order posted. The answered ones deliver their
// answer on `context`'s thread (nothing if `context` is gone by then), and the empty answer when
// the GUI thread does not answer in time.
class WiFiServerBackend
{
public:
    virtual ~WiFiServerBackend() = default;

    // Posted. `token` is the one a reconnect carries: the request is that phone's.
    virtual void touchPeer(const QString& host, const std::optional<QString>& name,
                           const std::optional<QString>& token) = 0;
    virtual void markSending(const QString& id) = 0;
    virtual void updateProgress(const QString& id, qint64 sentBytes) = 0;
    virtual void clearCancellation(const QString& id) = 0;
    virtual void markCompleted(const QString& id) = 0;
    virtual void markFailed(const QString& id) = 0;
    virtual void recordReceived(const QString& path, qint64 bytes, const QString& senderHost,
                                const QString& senderName) = 0;
    virtual void recordSent(const QString& path, qint64 bytes, const QString& recipientHost) = 0;

    // Answered.
    virtual void verifyPIN(const QString& host, const QString& pin, QObject* context,
                           std::function<void(std::optional<QString> token)> done) = 0;
    virtual void verifyToken(const QString& host, const QString& token, QObject* context,
                             std::function<void(bool ok)> done) = 0;
    virtual void listForHost(const QString& host, QObject* context,
                             std::function<void(QList<OfferedFile>)> done) = 0;
    // The local path of the file with this id offered to exactly this host.
    virtual void downloadPath(const QString& id, const QString& host, QObject* context,
                              std::function<void(std::optional<QString> path)> done) = 0;
    virtual void isCancelled(const QString& id, QObject* context,
                             std::function<void(bool cancelled)> done) = 0;
};

} // namespace qb
