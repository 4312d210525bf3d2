#include "wifi/wifi_peer.h"

#include "wifi/wire_format.h"

#include <QHash>

namespace qb {

QJsonObject WiFiPeer::toJson() const
{
    QJsonObject object{
        {QStringLiteral("host"), host},
        {QStringLiteral("name"), name},
        {QStringLiteral("pin"), pin},
        {QStringLiteral("lastSeen"), wire::referenceSeconds(lastSeen)},
    };
    if (token)
        object.insert(QStringLiteral("token"), *token);
    return object;
}

std::optional<WiFiPeer> WiFiPeer::fromJson(const QJsonObject& object)
{
    const auto host = wire::stringField(object, QStringLiteral("host"));
    const auto name = wire::stringField(object, QStringLiteral("name"));
    const auto pin = wire::stringField(object, QStringLiteral("pin"));
    const auto lastSeen = wire::dateField(object, QStringLiteral("lastSeen"));
    if (!host || !name || !pin || !lastSeen)
        return std::nullopt;
    WiFiPeer peer{*host, *name, *pin, std::nullopt, *lastSeen};
    // A null token is read like an absent one, as the other writers of this file may write it.
    if (!object.value(QStringLiteral("token")).isUndefined() &&
        !object.value(QStringLiteral("token")).isNull()) {
        const auto token = wire::stringField(object, QStringLiteral("token"));
        if (!token)
            return std::nullopt;
        peer.token = *token;
    }
    return peer;
}

size_t qHash(const WiFiPeer& peer, size_t seed)
{
    return qHashMulti(seed, peer.host, peer.name, peer.pin, peer.token.value_or(QString()),
                      peer.token.has_value(), peer.lastSeen);
}

} // namespace qb
