#include "wifi_ui/wifi_pairing_prompt_view.h"

#include "ui_common/symbol_icon.h"
#include "wifi_ui/wifi_formatters.h"
#include "wifi_ui/wifi_ui_style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace qb {

using namespace wifiui;

namespace {

// The PIN as one selectable text in a rounded box. It is drawn 84 pixels high where the page has
// the room; on a narrower or lower page the text and its box shrink together to what fits, down
// to a size that still reads easily, so no digit is ever cut off.
class PinLabel : public QLabel
{
public:
    static constexpr int fullSize = 84;
    static constexpr int floorSize = 28;

    explicit PinLabel(QWidget* parent) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        setAlignment(Qt::AlignCenter);
        setFont(pinFont(fullSize));
    }

    void setPin(const QString& text)
    {
        setText(text);
        updateGeometry();
        fit();
    }

    // Size hints come from the text alone, never from the size chosen for the current width, so
    // shrinking the font cannot feed back into the layout.
    QSize sizeHint() const override { return boxSize(fullSize); }
    QSize minimumSizeHint() const override { return boxSize(floorSize); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        fit();
    }

    void paintEvent(QPaintEvent* event) override
    {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            const qreal radius = 24.0 * font().pixelSize() / fullSize;
            QColor border = systemGray();
            border.setAlphaF(0.18f);
            painter.setPen(QPen(border, 1));
            painter.setBrush(palette().color(QPalette::Base));
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
        }
        QLabel::paintEvent(event);
    }

private:
    static QFont pinFont(int pixels)
    {
        QFont font = sizedFont(pixels, QFont::DemiBold);
        font.setStyleHint(QFont::Monospace, QFont::PreferDefault);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 8.0 * pixels / fullSize);
        return font;
    }
    // The padding around the text: 40 by 24 at the full size, in proportion below it.
    static QMargins padding(int pixels)
    {
        const int across = qRound(40.0 * pixels / fullSize);
        const int down = qRound(24.0 * pixels / fullSize);
        return {across, down, across, down};
    }
    QSize boxSize(int pixels) const
    {
        const QFontMetrics metrics(pinFont(pixels));
        const QMargins pad = padding(pixels);
        return {metrics.horizontalAdvance(text()) + pad.left() + pad.right(),
                metrics.height() + pad.top() + pad.bottom()};
    }
    void fit()
    {
        int pixels = fullSize;
        const QSize full = boxSize(fullSize);
        if (full.width() > width() || full.height() > height()) {
            // Glyph widths do not scale exactly with the size: start from the proportional guess
            // and step down until the box fits.
            const double ratio = std::min(double(width()) / std::max(1, full.width()),
                                          double(height()) / std::max(1, full.height()));
            pixels = std::clamp(int(fullSize * ratio), floorSize, fullSize);
            while (pixels > floorSize &&
                   (boxSize(pixels).width() > width() || boxSize(pixels).height() > height()))
                --pixels;
        }
        if (font().pixelSize() != pixels)
            setFont(pinFont(pixels));
        setContentsMargins(padding(pixels));
    }
};

} // namespace

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

    m_pin = new PinLabel(this);
    m_pin->setObjectName(QStringLiteral("pairingPIN"));
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
    note->setWordWrap(true);
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
    const QString pin = formattedPIN(singleLine(peer.pin));
    static_cast<PinLabel*>(m_pin)->setPin(pin);
    // The digits are the point of the page: a screen reader says them, not just "PIN".
    m_pin->setAccessibleName(tr("PIN %1").arg(pin));
    m_pin->setAccessibleDescription(tr("Enter this code on your Android device"));
}

QString WiFiPairingPromptView::pinShown() const
{
    return m_pin->text();
}

} // namespace qb
