#include "wifi_ui/wifi_pairing_prompt_view.h"

#include "documents/symbol_icon.h"
#include "wifi_ui/wifi_formatters.h"
#include "wifi_ui/wifi_ui_style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace qb {

using namespace wifiui;

PhoneAvatar::PhoneAvatar(int diameter, int iconSize, QWidget* parent)
    : QWidget(parent), m_iconSize(iconSize)
{
    setFixedSize(diameter, diameter);
}

void PhoneAvatar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintPhoneAvatar(painter, QRectF(rect()), m_iconSize, devicePixelRatioF());
}

WiFiPairingPromptView::WiFiPairingPromptView(const WiFiPeer& peer, QWidget* parent)
    : QWidget(parent)
{
    const QColor secondary = secondaryText(palette().color(QPalette::WindowText));
    QPalette dim = palette();
    dim.setColor(QPalette::WindowText, secondary);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(28);
    layout->addStretch(1);

    auto* header = new QVBoxLayout;
    header->setSpacing(14);
    header->addWidget(new PhoneAvatar(96, 44, this), 0, Qt::AlignHCenter);
    m_name = new QLabel(this);
    m_name->setTextFormat(Qt::PlainText);
    m_name->setFont(textFont(TextStyle::Title2, QFont::DemiBold));
    m_name->setAlignment(Qt::AlignCenter);
    m_name->setWordWrap(true);
    header->addWidget(m_name);
    m_host = new QLabel(this);
    m_host->setTextFormat(Qt::PlainText);
    m_host->setFont(textFont(TextStyle::Callout));
    m_host->setPalette(dim);
    m_host->setAlignment(Qt::AlignCenter);
    m_host->setWordWrap(true);
    header->addWidget(m_host);
    layout->addLayout(header);

    auto* title = new QLabel(tr("Enter this code on your Android device"), this);
    title->setTextFormat(Qt::PlainText);
    title->setFont(textFont(TextStyle::Title3));
    title->setPalette(dim);
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    layout->addWidget(title);

    m_pin = new QLabel(this);
    m_pin->setTextFormat(Qt::PlainText);
    m_pin->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont pinFont = sizedFont(84, QFont::DemiBold);
    pinFont.setLetterSpacing(QFont::AbsoluteSpacing, 8);
    pinFont.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    m_pin->setFont(pinFont);
    m_pin->setAlignment(Qt::AlignCenter);
    m_pin->setAccessibleName(tr("PIN"));
    m_pin->setObjectName(QStringLiteral("pairingPIN"));
    m_pin->setStyleSheet(
        QStringLiteral("#pairingPIN { background: palette(base); border: 1px solid "
                       "rgba(142, 142, 147, 46); border-radius: 24px; padding: "
                       "24px 40px; }"));
    layout->addWidget(m_pin, 0, Qt::AlignHCenter);

    auto* footnote = new QHBoxLayout;
    footnote->setSpacing(8);
    footnote->addStretch(1);
    auto* lock = new QLabel(this);
    lock->setPixmap(
        tintedSymbol(QStringLiteral("lock.shield"), 16, secondary, devicePixelRatioF()));
    footnote->addWidget(lock);
    auto* note =
        new QLabel(tr("This code is unique to your device and changes each session."), this);
    note->setTextFormat(Qt::PlainText);
    note->setFont(textFont(TextStyle::Caption));
    note->setPalette(dim);
    footnote->addWidget(note);
    footnote->addStretch(1);
    layout->addLayout(footnote);
    layout->addStretch(1);

    setPeer(peer);
}

void WiFiPairingPromptView::setPeer(const WiFiPeer& peer)
{
    m_peer = peer;
    m_name->setText(singleLine(peer.name));
    m_host->setText(singleLine(peer.host));
    m_pin->setText(formattedPIN(singleLine(peer.pin)));
}

QString WiFiPairingPromptView::pinShown() const
{
    return m_pin->text();
}

} // namespace qb
