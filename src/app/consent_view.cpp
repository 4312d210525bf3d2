#include "app/consent_view.h"

#include "platform/preference_store.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

namespace {

QLabel* label(const QString& text, QWidget* parent, Qt::TextFormat format = Qt::PlainText)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(format);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

QPushButton* linkButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    button->setStyleSheet(QStringLiteral("QPushButton { color: palette(link); border: none; }"));
    return button;
}

} // namespace

ConsentView::ConsentView(PreferenceStore& preferences, QWidget* parent)
    : QDialog(parent), m_preferences(preferences)
{
    setWindowTitle(tr("Welcome to Quillbay"));
    setWindowModality(Qt::WindowModal);
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    setFixedSize(480, 380);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);

    auto* column = new QVBoxLayout;
    column->setSpacing(20);
    column->setContentsMargins(40, 0, 40, 0);
    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(80, 80));
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName(tr("Quillbay"));
    column->addWidget(icon);
    QLabel* title = label(tr("Welcome to Quillbay"), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);
    column->addWidget(title);
    QLabel* intro = label(tr("Before you continue, please review our legal agreements."), this);
    intro->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(intro);

    auto* links = new QHBoxLayout;
    links->setSpacing(6);
    links->addStretch(1);
    QPushButton* terms = linkButton(tr("Terms && Conditions"), this);
    QPushButton* privacy = linkButton(tr("Privacy Policy"), this);
    QLabel* andLabel = label(tr("and"), this);
    andLabel->setForegroundRole(QPalette::PlaceholderText);
    links->addWidget(terms);
    links->addWidget(andLabel);
    links->addWidget(privacy);
    links->addStretch(1);
    column->addLayout(links);

    QLabel* agreement =
        label(tr("By tapping <b>Accept &amp; Continue</b> you agree to the Terms &amp; Conditions "
                 "and Privacy Policy."),
              this, Qt::RichText);
    agreement->setFixedWidth(340);
    agreement->setForegroundRole(QPalette::PlaceholderText);
    QFont caption = agreement->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    agreement->setFont(caption);
    column->addWidget(agreement, 0, Qt::AlignHCenter);
    layout->addLayout(column);
    layout->addStretch(1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(16);
    buttons->setContentsMargins(32, 20, 32, 20);
    auto* decline = new QPushButton(tr("Decline"), this);
    decline->setAutoDefault(false);
    decline->setStyleSheet(QStringLiteral("QPushButton { color: #d70015; }"));
    auto* accept = new QPushButton(tr("Accept && Continue"), this);
    accept->setDefault(true);
    buttons->addWidget(decline);
    buttons->addStretch(1);
    buttons->addWidget(accept);
    layout->addLayout(buttons);
    // Focus follows the visual order: the links, then Decline, then Accept.
    setTabOrder(terms, privacy);
    setTabOrder(privacy, decline);
    setTabOrder(decline, accept);
    accept->setFocus();

    connect(accept, &QPushButton::clicked, this, &ConsentView::acceptTerms);
    connect(decline, &QPushButton::clicked, this, &ConsentView::declined);
    connect(terms, &QPushButton::clicked, this, &ConsentView::showTermsRequested);
    connect(privacy, &QPushButton::clicked, this, &ConsentView::showPrivacyRequested);
}

bool ConsentView::hasAccepted(const PreferenceStore& preferences)
{
    return preferences.boolean(QString::fromLatin1(acceptedKey)).value_or(false);
}

void ConsentView::reject() {}

void ConsentView::closeEvent(QCloseEvent* event)
{
    // Quitting leaves the event loop with exit(), which closes no window first, so ignoring
    // every close here never refuses a quit.
    event->ignore();
}

void ConsentView::acceptTerms()
{
    m_preferences.setValue(QString::fromLatin1(acceptedKey), true);
    accept();
}

} // namespace qb
