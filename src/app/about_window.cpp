#include "app/about_window.h"

#include "app/app_version.h"
#include "documents/document_sheets.h"
#include "ui_common/text_styles.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

namespace {

QLabel* centred(const QString& text, QWidget* parent, TextStyle style, QPalette::ColorRole role,
                bool bold = false)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    setTextStyle(label, style, bold);
    label->setForegroundRole(role);
    return label;
}

QPushButton* link(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    setTextStyle(button, TextStyle::Callout);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { color: palette(link); border: none; }"));
    return button;
}

} // namespace

AboutWindow::AboutWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("About Quillbay"));
    setFixedWidth(380);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 28);
    layout->setSpacing(12);

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName(tr("Quillbay"));
    layout->addWidget(icon);
    layout->addWidget(
        centred(QStringLiteral("Quillbay"), this, TextStyle::Title, QPalette::WindowText, true));
    layout->addWidget(centred(AppVersion::versionLine(), this, TextStyle::Subheadline,
                              QPalette::PlaceholderText));
    layout->addWidget(centred(tr("© 2026 Halvorin. All rights reserved."), this, TextStyle::Caption,
                              QPalette::PlaceholderText));
    layout->addWidget(centred(tr("Android ↔ Computer file transfer via USB & Wi-Fi"), this,
                              TextStyle::Caption, QPalette::PlaceholderText));

    layout->addSpacing(8);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);
    layout->addSpacing(8);

    // A small heading over the links, not a second title.
    QLabel* legal = centred(tr("Legal"), this, TextStyle::Caption, QPalette::PlaceholderText, true);
    legal->setObjectName(QStringLiteral("legalHeading"));
    layout->addWidget(legal);
    auto* links = new QHBoxLayout;
    links->setSpacing(20);
    links->addStretch(1);
    QPushButton* terms = link(tr("Terms && Conditions"), this);
    QPushButton* privacy = link(tr("Privacy Policy"), this);
    links->addWidget(terms);
    links->addWidget(
        centred(QStringLiteral("·"), this, TextStyle::Body, QPalette::PlaceholderText));
    links->addWidget(privacy);
    links->addStretch(1);
    layout->addLayout(links);
    // Fixed to its content: 380 wide, as high as the wrapped texts need.
    setFixedHeight(layout->totalHeightForWidth(380));

    connect(terms, &QPushButton::clicked, this, &AboutWindow::showTerms);
    connect(privacy, &QPushButton::clicked, this, &AboutWindow::showPrivacy);
}

void AboutWindow::showTerms()
{
    auto* sheet = new TermsSheet(this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void AboutWindow::showPrivacy()
{
    auto* sheet = new PrivacySheet(this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

} // namespace qb
