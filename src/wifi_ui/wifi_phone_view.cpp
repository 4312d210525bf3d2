#include "wifi_ui/wifi_phone_view.h"

#include "wifi/wifi_peer_registry.h"
#include "wifi_ui/connected_device_view.h"
#include "wifi_ui/wifi_pairing_prompt_view.h"

#include <QVBoxLayout>

namespace qb {

WiFiPhoneView::WiFiPhoneView(const WiFiRegistries& registries, QWidget* parent)
    : QWidget(parent), m_registries(registries)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // A phone that reconnects from a new address keeps its page, and the page its sheet.
    connect(m_registries.peers, &WiFiPeerRegistry::peerMoved, this,
            [this](const QString& from, const QString& to) {
                if (!m_page || m_page->peer().host != from)
                    return;
                WiFiPeer moved = m_page->peer();
                moved.host = to;
                m_page->setPeer(moved);
            });
    connect(m_registries.peers, &WiFiPeerRegistry::peersChanged, this, &WiFiPhoneView::follow);
    connect(m_registries.peers, &WiFiPeerRegistry::selectedPeerHostChanged, this,
            &WiFiPhoneView::follow);
    follow();
}

void WiFiPhoneView::follow()
{
    std::optional<WiFiPeer> peer;
    if (const auto host = m_registries.peers->selectedPeerHost()) {
        for (const WiFiPeer& candidate : m_registries.peers->peers()) {
            if (candidate.host == *host) {
                peer = candidate;
                break;
            }
        }
    }
    if (!peer) {
        replaceContent(nullptr);
        return;
    }
    // The same phone keeps its page (and the page its selection and sheet) across changes of its
    // name and address; another phone, or a change of pairing, gets a fresh one.
    if (peer->token) {
        if (m_page && m_page->peer().host == peer->host) {
            m_page->setPeer(*peer);
            return;
        }
        auto* page = new ConnectedDeviceView(m_registries, *peer, this);
        replaceContent(page);
        m_page = page;
        return;
    }
    if (m_prompt) {
        m_prompt->setPeer(*peer);
        return;
    }
    auto* prompt = new WiFiPairingPromptView(*peer, this);
    replaceContent(prompt);
    m_prompt = prompt;
}

void WiFiPhoneView::replaceContent(QWidget* content)
{
    // The old content may be running the action that led here (a menu of the page, a dialog
    // button): it is hidden now and deleted once that action has returned.
    if (m_content) {
        m_content->hide();
        layout()->removeWidget(m_content);
        m_content->deleteLater();
    }
    m_content = content;
    m_page = nullptr;
    m_prompt = nullptr;
    if (content != nullptr)
        layout()->addWidget(content);
}

} // namespace qb
