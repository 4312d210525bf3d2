#pragma once

#include "wifi_ui/wifi_registries.h"

#include <QWidget>

namespace qb {

// What the phone pane shows for the Wi-Fi phone selected in the sidebar: the pairing prompt
// while it is not paired, else its page. Follows the peer registry's selection by itself.
class WiFiPhoneView : public QWidget
{
    Q_OBJECT

public:
    explicit WiFiPhoneView(const WiFiRegistries& registries, QWidget* parent = nullptr);

private:
    WiFiRegistries m_registries;
};

} // namespace qb
