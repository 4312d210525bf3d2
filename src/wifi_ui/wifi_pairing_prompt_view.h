#pragma once

#include "wifi/wifi_peer.h"

#include <QWidget>

class QLabel;

namespace qb {

// The page of a phone that is known but not paired: who it is and the PIN to type into the
// companion app. It shows the peer it is given; its owner hands it a new one on changes.
class WiFiPairingPromptView : public QWidget
{
    Q_OBJECT

public:
    explicit WiFiPairingPromptView(const WiFiPeer& peer, QWidget* parent = nullptr);

    WiFiPeer peer() const { return m_peer; }
    void setPeer(const WiFiPeer& peer);
    QString pinShown() const;

private:
    WiFiPeer m_peer;
    QLabel* m_name = nullptr;
    QLabel* m_host = nullptr;
    QLabel* m_pin = nullptr;
};

// A circle of the accent gradient with the phone symbol: the avatar of both Wi-Fi pages.
class PhoneAvatar : public QWidget
{
public:
    PhoneAvatar(int diameter, int iconSize, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_iconSize;
};

} // namespace qb
