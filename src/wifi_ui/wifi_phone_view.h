#pragma once

#include "wifi_ui/connected_device_view.h"
#include "wifi_ui/wifi_pairing_prompt_view.h"
#include "wifi_ui/wifi_registries.h"

#include <QPointer>
#include <QWidget>

namespace qb {

// What the phone pane shows for the Wi-Fi phone selected in the sidebar: the pairing prompt
// while it is not paired, else its page. Follows the peer registry's selection by itself.
class WiFiPhoneView : public QWidget
{
    Q_OBJECT

public:
    explicit WiFiPhoneView(const WiFiRegistries& registries, QWidget* parent = nullptr);

    // The page or prompt shown now; none while no known phone is selected.
    ConnectedDeviceView* page() const { return m_page; }
    WiFiPairingPromptView* prompt() const { return m_prompt; }

private:
    void follow();
    void replaceContent(QWidget* content);

    WiFiRegistries m_registries;
    QPointer<QWidget> m_content;
    QPointer<ConnectedDeviceView> m_page;
    QPointer<WiFiPairingPromptView> m_prompt;
};

} // namespace qb
