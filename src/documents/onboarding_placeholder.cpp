#include "documents/onboarding_placeholder.h"

#include "documents/inline_markdown.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace qb {

namespace {

const QColor kBlue(0x00, 0x7a, 0xff);
const QColor kGreen(0x34, 0xc7, 0x59);
const QColor kYellow(0xff, 0xcc, 0x00);

struct ConnectionMethodCard
{
    QString icon;
    QColor accent;
    QString title;
    QStringList steps; // may carry **strong** spans
    QString tip;
    QString ctaLabel;
    QString ctaIcon;
    QString ctaAddress;
};

QLabel* symbolLabel(QWidget* parent, const QString& symbol, int side, const QColor& colour)
{
    auto* label = new QLabel(parent);
    label->setPixmap(tintedSymbol(symbol, side, colour));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLabel* plainLabel(QWidget* parent, const QString& text, TextStyle style, bool bold = false)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    setTextStyle(label, style, bold);
    return label;
}

QString css(const QColor& colour)
{
    return colour.name(QColor::HexRgb);
}

// The card's rounded box: the control background with a faint border inside its edge.
class CardFrame : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor border(Qt::gray);
        border.setAlphaF(0.2);
        painter.setPen(QPen(border, 1));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    }
};

// The call to action: a filled button whose label wraps onto further lines rather than being
// cut off where the card is narrow. The symbol stands before the label while the label's longest
// word still fits beside it, and above the label where it does not, so no word is ever clipped.
// The button places both itself: its height for a width is computed by the same arrangement that
// places them, so the card always gives it the height its label needs.
class WrappingButton : public QPushButton
{
public:
    WrappingButton(const QString& text, const QPixmap& icon, QWidget* parent)
        : QPushButton(parent), m_image(new QLabel(this)), m_label(new QLabel(this))
    {
        setAccessibleName(text);
        m_image->setPixmap(icon);
        m_image->setHidden(icon.isNull());
        m_label->setTextFormat(Qt::PlainText);
        m_label->setText(text);
        m_label->setWordWrap(true);
        m_label->setAlignment(Qt::AlignCenter);
        QFont font = m_label->font();
        font.setWeight(QFont::DemiBold);
        m_label->setFont(font);
        for (QLabel* part : {m_image, m_label})
            part->setAttribute(Qt::WA_TransparentForMouseEvents);
        // A push button is one line high by default; this one grows with its label.
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    QSize sizeHint() const override
    {
        const QSize symbol = symbolSize();
        const int width =
            2 * kMargin + lineWidth() + (symbol.isEmpty() ? 0 : symbol.width() + kSpacing);
        return {width, heightForWidth(width)};
    }
    QSize minimumSizeHint() const override
    {
        const QSize symbol = symbolSize();
        const QSize word = m_label->minimumSizeHint();
        return {2 * kMargin + std::max(symbol.width(), word.width()),
                2 * kMargin + std::max(symbol.height(), word.height())};
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrangement(width).height; }

protected:
    bool event(QEvent* event) override
    {
        // A part's size changed (a new font or style): ask the card again and place the parts.
        if (event->type() == QEvent::LayoutRequest) {
            updateGeometry();
            place();
        }
        return QPushButton::event(event);
    }
    void resizeEvent(QResizeEvent* event) override
    {
        QPushButton::resizeEvent(event);
        place();
    }

private:
    static constexpr int kMargin = 8;
    static constexpr int kSpacing = 8;

    struct Arrangement
    {
        QRect symbol;
        QRect text;
        int height = 0;
    };

    QSize symbolSize() const { return m_image->isHidden() ? QSize() : m_image->sizeHint(); }

    // The label's width on a single line.
    int lineWidth() const
    {
        const int unbounded = 1 << 20;
        return m_label->fontMetrics()
            .boundingRect(QRect(0, 0, unbounded, unbounded), Qt::TextWordWrap | Qt::AlignCenter,
                          m_label->text())
            .width();
    }

    Arrangement arrangement(int width) const
    {
        const QSize symbol = symbolSize();
        const int room = std::max(0, width - 2 * kMargin);
        const int line = lineWidth();
        Arrangement result;
        if (!symbol.isEmpty() &&
            room >= symbol.width() + kSpacing + m_label->minimumSizeHint().width()) {
            const int textWidth = std::min(line, room - symbol.width() - kSpacing);
            const int textHeight = m_label->heightForWidth(textWidth);
            const int rowHeight = std::max(symbol.height(), textHeight);
            const int left = kMargin + (room - symbol.width() - kSpacing - textWidth) / 2;
            result.symbol =
                QRect(QPoint(left, kMargin + (rowHeight - symbol.height()) / 2), symbol);
            result.text = QRect(left + symbol.width() + kSpacing,
                                kMargin + (rowHeight - textHeight) / 2, textWidth, textHeight);
        } else {
            const int textWidth = std::min(line, room);
            int top = kMargin;
            if (!symbol.isEmpty()) {
                result.symbol = QRect(QPoint(kMargin + (room - symbol.width()) / 2, top), symbol);
                top += symbol.height() + kSpacing;
            }
            result.text = QRect(kMargin + (room - textWidth) / 2, top, textWidth,
                                m_label->heightForWidth(textWidth));
        }
        result.height = (result.symbol | result.text).bottom() + 1 + kMargin;
        return result;
    }

    // The parts as the arrangement for the current width says, centred in any extra height.
    void place()
    {
        const Arrangement parts = arrangement(width());
        const int extra = std::max(0, (height() - parts.height) / 2);
        m_image->setGeometry(parts.symbol.translated(0, extra));
        m_label->setGeometry(parts.text.translated(0, extra));
    }

    QLabel* m_image;
    QLabel* m_label;
};

QWidget* stepRow(QWidget* parent, int number, const QString& text, const QColor& accent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* disc = new QLabel(QString::number(number), row);
    disc->setFixedSize(24, 24);
    disc->setAlignment(Qt::AlignCenter);
    setTextStyle(disc, TextStyle::Callout, true);
    disc->setStyleSheet(
        QStringLiteral("background: %1; color: white; border-radius: 12px;").arg(css(accent)));
    layout->addWidget(disc, 0, Qt::AlignTop);
    auto* label = new QLabel(row);
    label->setTextFormat(Qt::RichText);
    label->setText(inlineRichText(text));
    label->setWordWrap(true);
    setTextStyle(label, TextStyle::Callout);
    layout->addWidget(label, 1);
    return row;
}

QWidget* card(QWidget* parent, const ConnectionMethodCard& method,
              const OnboardingPlaceholder::UrlOpener& openUrl)
{
    auto* box = new CardFrame(parent);
    box->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    QLabel* badge = symbolLabel(box, method.icon, 18, Qt::white);
    badge->setFixedSize(32, 32);
    badge->setStyleSheet(
        QStringLiteral("background: %1; border-radius: 8px;").arg(css(method.accent)));
    header->addWidget(badge);
    header->addWidget(plainLabel(box, method.title, TextStyle::Headline), 1);
    layout->addLayout(header);

    auto* steps = new QVBoxLayout;
    steps->setSpacing(12);
    for (int i = 0; i < method.steps.size(); ++i)
        steps->addWidget(stepRow(box, i + 1, method.steps[i], method.accent));
    layout->addLayout(steps);

    const std::optional<QUrl> url = OnboardingPlaceholder::webAddress(method.ctaAddress);
    if (!method.ctaLabel.isEmpty() && url) {
        auto* button =
            new WrappingButton(method.ctaLabel, tintedSymbol(method.ctaIcon, 16, Qt::white), box);
        button->setMinimumHeight(36);
        button->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: none; "
                                             "border-radius: 6px; }"
                                             "QPushButton:pressed { background: %2; }"
                                             "QLabel { color: white; background: transparent; }")
                                  .arg(css(method.accent), css(method.accent.darker(120))));
        QObject::connect(button, &QPushButton::clicked, box, [openUrl, url] { openUrl(*url); });
        layout->addSpacing(2);
        layout->addWidget(button);
    }

    auto* tip = new QHBoxLayout;
    tip->setSpacing(6);
    const int captionHeight = QFontMetrics(textStyleFont(TextStyle::Caption, QFont())).height();
    tip->addWidget(symbolLabel(box, QStringLiteral("lightbulb"), captionHeight, kYellow), 0,
                   Qt::AlignTop);
    QLabel* tipText = plainLabel(box, method.tip, TextStyle::Caption);
    setSecondaryColour(tipText);
    tip->addWidget(tipText, 1);
    layout->addSpacing(4);
    layout->addLayout(tip);
    layout->addStretch(1);
    return box;
}

} // namespace

OnboardingPlaceholder::OnboardingPlaceholder(QWidget* parent)
    : QWidget(parent), m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    const ConnectionMethodCard usb{
        QStringLiteral("cable.connector"),
        kBlue,
        tr("Connect via USB"),
        {tr("Plug in your Android phone via USB."),
         tr("Unlock your phone and pull down the notification shade."),
         tr("Tap **USB charging** and choose **File Transfer (MTP)**."),
         tr("Your device will appear in the left sidebar.")},
        tr("If nothing appears after 10 seconds, try a different cable or USB port."),
        {},
        {},
        {}};
    const ConnectionMethodCard wifi{
        QStringLiteral("wifi"),
        kGreen,
        tr("Connect via Wi-Fi"),
        {tr("Install **Quillbay Companion** on your Android phone."),
         tr("Make sure both devices are on the same Wi-Fi network."),
         tr("Open the Companion app \u2014 it will discover this computer automatically."),
         tr("Tap your computer and enter the pairing PIN to connect.")},
        tr("Make sure your firewall lets Quillbay accept connections from your local network."),
        tr("Install Android Companion App"),
        QStringLiteral("arrow.down.circle.fill"),
        companionStoreAddress()};

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 32, 0, 32);
    column->setSpacing(28);

    auto* header = new QVBoxLayout;
    header->setSpacing(10);
    header->addWidget(
        symbolLabel(content, QStringLiteral("iphone.gen3.radiowaves.left.and.right"), 56, kBlue));
    QLabel* title = plainLabel(content, tr("Connect Your Android Device"), TextStyle::Title2, true);
    QLabel* subtitle = plainLabel(content, tr("Choose a connection method below to get started."),
                                  TextStyle::Callout);
    setSecondaryColour(subtitle);
    for (QLabel* label : {title, subtitle}) {
        label->setAlignment(Qt::AlignCenter);
        header->addWidget(label);
    }
    column->addLayout(header);

    // The cards share the width, at most 880 together, centred with 24 on either side.
    auto* row = new QWidget(content);
    row->setMaximumWidth(880);
    auto* cards = new QHBoxLayout(row);
    cards->setContentsMargins(0, 0, 0, 0);
    cards->setSpacing(24);
    const UrlOpener open = [this](const QUrl& url) {
        if (m_openUrl)
            m_openUrl(url);
    };
    cards->addWidget(card(row, usb, open), 1, Qt::AlignTop);
    cards->addWidget(card(row, wifi, open), 1, Qt::AlignTop);
    auto* centred = new QHBoxLayout;
    centred->setContentsMargins(24, 0, 24, 0);
    centred->addStretch(0);
    centred->addWidget(row, 1);
    centred->addStretch(0);
    column->addLayout(centred);
    column->addStretch(1);
    scroll->setWidget(content);
}

void OnboardingPlaceholder::setUrlOpener(UrlOpener opener)
{
    m_openUrl = std::move(opener);
}

QString OnboardingPlaceholder::companionStoreAddress()
{
    return QStringLiteral("https://www.halvorin.com/quillbay/android");
}

std::optional<QUrl> OnboardingPlaceholder::webAddress(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return std::nullopt;
    return url;
}

} // namespace qb
