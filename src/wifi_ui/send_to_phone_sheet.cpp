#include "wifi_ui/send_to_phone_sheet.h"

#include "ui_common/symbol_icon.h"
#include "wifi_ui/computer_to_phone_animation.h"
#include "wifi_ui/file_status_delegate.h"
#include "wifi_ui/wifi_formatters.h"
#include "wifi_ui/wifi_ui_style.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

using namespace wifiui;

namespace {

// Rows' rate, time and spinner are redrawn every this many animation frames (about 10 a second).
constexpr int kRowTickEvery = 6;

class PaperplaneTile : public QWidget
{
public:
    explicit PaperplaneTile(QWidget* parent) : QWidget(parent) { setFixedSize(36, 36); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(accentGradient(rect()));
        painter.drawRoundedRect(QRectF(rect()), 10, 10);
        const QPixmap plane =
            tintedSymbol(QStringLiteral("paperplane.fill"), 18, Qt::white, devicePixelRatioF());
        if (!plane.isNull())
            painter.drawPixmap(QRect(9, 9, 18, 18), plane);
    }
};

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* plainLabel(QWidget* parent, const QFont& font)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

} // namespace

SendToPhoneSheet::SendToPhoneSheet(PendingOutgoingFilesRegistry& registry, const WiFiPeer& peer,
                                   const QSet<QUuid>& trackedIDs, QWidget* parent)
    : QDialog(parent), m_model(registry, trackedIDs), m_peer(peer)
{
    setWindowModality(Qt::WindowModal);
    setFixedWidth(460);
    setMinimumHeight(480);
    resize(460, 600);
    const QColor secondary = secondaryText(palette().color(QPalette::WindowText));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(12);
    header->addWidget(new PaperplaneTile(this));
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    m_headerTitle = plainLabel(this, textFont(TextStyle::Headline));
    m_host = plainLabel(this, textFont(TextStyle::Caption));
    QPalette dim = m_host->palette();
    dim.setColor(QPalette::WindowText, secondary);
    m_host->setPalette(dim);
    names->addWidget(m_headerTitle);
    names->addWidget(m_host);
    header->addLayout(names, 1);
    layout->addLayout(header);
    layout->addWidget(divider(this));

    auto* content = new QVBoxLayout;
    content->setContentsMargins(24, 24, 24, 24);
    content->setSpacing(16);
    m_animation = new ComputerToPhoneAnimation(this);
    m_animation->setFixedHeight(110);
    content->addWidget(m_animation);
    m_title = plainLabel(this, textFont(TextStyle::Title3, QFont::DemiBold));
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setWordWrap(true);
    content->addWidget(m_title);
    // Rich text only for the fixed words in bold; every inserted value is escaped.
    m_subtitle = new QLabel(this);
    m_subtitle->setTextFormat(Qt::RichText);
    m_subtitle->setFont(textFont(TextStyle::Callout));
    m_subtitle->setPalette(dim);
    m_subtitle->setAlignment(Qt::AlignCenter);
    m_subtitle->setWordWrap(true);
    // At most 380 wide: the margins take the rest of the column (a maximum width would stop the
    // layout from giving the wrapped text its height).
    m_subtitle->setContentsMargins(16, 0, 16, 0);
    content->addWidget(m_subtitle);

    m_files = new QListView(this);
    m_files->setModel(m_model.filesModel());
    m_delegate = new FileStatusDelegate(m_files);
    m_files->setItemDelegate(m_delegate);
    m_files->setSelectionMode(QAbstractItemView::NoSelection);
    m_files->setFocusPolicy(Qt::NoFocus);
    m_files->setFrameShape(QFrame::NoFrame);
    m_files->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_files->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_files->setResizeMode(QListView::Adjust);
    m_files->viewport()->setAutoFillBackground(false);
    m_files->setAccessibleName(tr("Files"));
    content->addWidget(m_files, 1);
    m_doneIcon = new QLabel(this);
    m_doneIcon->setTextFormat(Qt::PlainText);
    m_doneIcon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_doneIcon->setContentsMargins(0, 6, 0, 0);
    content->addWidget(m_doneIcon, 1);
    layout->addLayout(content, 1);

    layout->addWidget(divider(this));
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(16, 16, 16, 16);
    footer->addStretch(1);
    m_button = new QPushButton(this);
    m_button->setDefault(true);
    m_button->setAutoDefault(true);
    footer->addWidget(m_button);
    layout->addLayout(footer);

    connect(m_button, &QPushButton::clicked, this, [this] { m_model.footerAction(); });
    connect(&m_model, &SendToPhoneSheetModel::dismissRequested, this, &QDialog::accept);
    connect(&m_model, &SendToPhoneSheetModel::changed, this, &SendToPhoneSheet::refresh);
    m_timer.setInterval(kFrameIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &SendToPhoneSheet::tick);
    refresh();
    m_button->setFocus();
}

void SendToPhoneSheet::setPeer(const WiFiPeer& peer)
{
    // Its files were queued for one phone: another record that the page comes to show (one left
    // at the address that phone moved to) is not the phone they go to.
    if (peer == m_peer || peer.token != m_peer.token)
        return;
    m_peer = peer;
    refresh();
}

QString SendToPhoneSheet::titleShown() const
{
    return m_title->text();
}

QString SendToPhoneSheet::subtitleShown() const
{
    return m_subtitle->text();
}

void SendToPhoneSheet::refresh()
{
    const QString name = m_peer.name;
    setWindowTitle(m_model.headerTitle(name));
    m_headerTitle->setText(m_model.headerTitle(name));
    m_host->setText(singleLine(m_peer.host));
    m_title->setText(m_model.titleText(name));
    m_subtitle->setText(m_model.subtitleHtml(name));
    m_button->setText(m_model.buttonText());

    const bool filesLeft = m_model.state() != SendToPhoneSheetModel::State::Done;
    m_animation->setActive(filesLeft);
    m_files->setVisible(filesLeft);
    m_doneIcon->setVisible(!filesLeft);
    if (!filesLeft && m_doneIcon->pixmap().isNull()) {
        // The end is worded for what happened, and so is its symbol.
        const bool allDelivered = m_model.undeliveredIDs().isEmpty();
        QPixmap disc(QSize(56, 56) * devicePixelRatioF());
        disc.setDevicePixelRatio(devicePixelRatioF());
        disc.fill(Qt::transparent);
        QPainter painter(&disc);
        paintStatusDisc(painter, QRectF(0, 0, 56, 56), allDelivered);
        painter.end();
        m_doneIcon->setPixmap(disc);
        m_doneIcon->setAccessibleName(m_model.titleText(name));
    }
    updateTimer();
}

void SendToPhoneSheet::tick()
{
    m_animation->update();
    if (++m_ticks % kRowTickEvery == 0)
        m_files->viewport()->update();
}

void SendToPhoneSheet::updateTimer()
{
    // Nothing moves once no file is left: the timer stops, and stays stopped while hidden.
    const bool wanted = isVisible() && m_model.state() != SendToPhoneSheetModel::State::Done;
    if (wanted && !m_timer.isActive())
        m_timer.start();
    else if (!wanted && m_timer.isActive())
        m_timer.stop();
}

void SendToPhoneSheet::keyPressEvent(QKeyEvent* event)
{
    // Escape neither cancels the files nor closes the sheet: only the button does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SendToPhoneSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    updateTimer();
}

void SendToPhoneSheet::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    updateTimer();
}

} // namespace qb
