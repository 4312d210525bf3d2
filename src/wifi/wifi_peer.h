#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <optional>

namespace qb {

// A phone that has spoken to the Wi-Fi server. Unpaired while it has no token.
struct WiFiPeer
{
    QString host;                 // address as the server saw it; also the identity
    QString name;                 // from "X-Device-Name", else "Android device"
    QString pin;                  // six digits, leading zeros kept
    std::optional<QString> token; // 36-character UUID text once paired
    QDateTime lastSeen;

    QString id() const { return host; }
    bool operator==(const WiFiPeer&) const = default;

    // One object of "wifi_peers.json"; "token" is left out when absent.
    QJsonObject toJson() const;
    // Absent when a required key is missing or has the wrong type.
    static std::optional<WiFiPeer> fromJson(const QJsonObject& object);
};

size_t qHash(const WiFiPeer& peer, size_t seed = 0);

} // namespace qb

Q_DECLARE_METATYPE(qb::WiFiPeer)
