#pragma once

#include "wifi/wifi_server_backend.h"

#include <QMap>

namespace qb::test {

// PINs in a map and one valid token; answers at once, on the calling thread (the router test
// calls it from one thread only); offers nothing.
class FakeServerBackend : public WiFiServerBackend
{
public:
    void touchPeer(const QString&, const std::optional<QString>&) override {}
    void regeneratePIN(const QString& host) override { pins[host] = QStringLiteral("999999"); }
    void markSending(const QString&) override {}
    void updateProgress(const QString&, qint64) override {}
    void clearCancellation(const QString&) override {}
    void markCompleted(const QString&) override {}
    void markFailed(const QString&) override {}
    void recordReceived(const QString&, qint64, const QString&, const QString&) override {}
    void recordSent(const QString&, qint64, const QString&) override {}
    void verifyPIN(const QString& host, const QString& pin, QObject*,
                   std::function<void(std::optional<QString>)> done) override
    {
        ++pinChecks;
        done(pins.value(host) == pin && !pin.isEmpty()
                 ? std::optional(QStringLiteral("TOKEN-%1").arg(++tokensIssued))
                 : std::nullopt);
    }
    void verifyToken(const QString&, const QString& token, QObject*,
                     std::function<void(bool)> done) override
    {
        done(token == QStringLiteral("GOOD"));
    }
    void listForHost(const QString&, QObject*,
                     std::function<void(QList<OfferedFile>)> done) override
    {
        done({});
    }
    void downloadPath(const QString&, const QString&, QObject*,
                      std::function<void(std::optional<QString>)> done) override
    {
        done(std::nullopt);
    }
    void isCancelled(const QString&, QObject*, std::function<void(bool)> done) override
    {
        done(false);
    }

    QMap<QString, QString> pins; // host -> PIN
    int pinChecks = 0;
    int tokensIssued = 0;
};

} // namespace qb::test
