#pragma once

#include "wifi/wifi_server_backend.h"

#include <QMap>
#include <QMutex>
#include <QStringList>

namespace qb::test {

// Registries in a few maps: answers at once, on the calling thread, and logs every call.
class FakeServerBackend : public WiFiServerBackend
{
public:
    void touchPeer(const QString& host, const std::optional<QString>& name) override
    {
        log(QStringLiteral("touch %1 %2").arg(host, name.value_or(QStringLiteral("<none>"))));
    }
    void regeneratePIN(const QString& host) override
    {
        log(QStringLiteral("regeneratePIN %1").arg(host));
        QMutexLocker lock(&mutex);
        pins[host] = QStringLiteral("999999");
    }
    void markSending(const QString& id) override { log("sending " + id); }
    void updateProgress(const QString& id, qint64 sent) override
    {
        log(QStringLiteral("progress %1 %2").arg(id).arg(sent));
    }
    void clearCancellation(const QString& id) override { log("clearCancellation " + id); }
    void markCompleted(const QString& id) override { log("completed " + id); }
    void markFailed(const QString& id) override { log("failed " + id); }
    void recordReceived(const QString& path, qint64 bytes, const QString& host,
                        const QString& name) override
    {
        log(QStringLiteral("received %1 %2 %3 %4").arg(path).arg(bytes).arg(host, name));
    }
    void recordSent(const QString& path, qint64 bytes, const QString& host) override
    {
        log(QStringLiteral("sent %1 %2 %3").arg(path).arg(bytes).arg(host));
    }

    void verifyPIN(const QString& host, const QString& pin, QObject*,
                   std::function<void(std::optional<QString>)> done) override
    {
        log(QStringLiteral("verifyPIN %1 %2").arg(host, pin));
        std::optional<QString> token;
        {
            QMutexLocker lock(&mutex);
            if (pins.value(host) == pin && !pin.isEmpty()) {
                token = QStringLiteral("TOKEN-%1").arg(++tokensIssued);
            }
        }
        done(token);
    }
    void verifyToken(const QString& host, const QString& token, QObject*,
                     std::function<void(bool)> done) override
    {
        log(QStringLiteral("verifyToken %1 %2").arg(host, token));
        done(token == validToken);
    }
    void listForHost(const QString& host, QObject*,
                     std::function<void(QList<OfferedFile>)> done) override
    {
        log("list " + host);
        QMutexLocker lock(&mutex);
        const QList<OfferedFile> list = offers.value(host);
        lock.unlock();
        done(list);
    }
    void downloadPath(const QString& id, const QString& host, QObject*,
                      std::function<void(std::optional<QString>)> done) override
    {
        log(QStringLiteral("lookup %1 %2").arg(id, host));
        QMutexLocker lock(&mutex);
        const auto found = files.find(id + '@' + host);
        const std::optional<QString> path =
            found == files.end() ? std::nullopt : std::optional<QString>(*found);
        lock.unlock();
        done(path);
    }
    void isCancelled(const QString& id, QObject*, std::function<void(bool)> done) override
    {
        QMutexLocker lock(&mutex);
        const bool answer = cancelled.contains(id);
        lock.unlock();
        done(answer);
    }

    QStringList calls() const
    {
        QMutexLocker lock(&mutex);
        return m_calls;
    }

    mutable QMutex mutex;
    QMap<QString, QString> pins; // host -> PIN
    QString validToken = QStringLiteral("GOOD");
    QMap<QString, QList<OfferedFile>> offers; // host -> list
    QMap<QString, QString> files;             // "id@host" -> path
    QSet<QString> cancelled;
    int tokensIssued = 0;

private:
    void log(const QString& call)
    {
        QMutexLocker lock(&mutex);
        m_calls << call;
    }
    QStringList m_calls;
};

} // namespace qb::test
