#include "documents/document_sheets.h"

#include "documents/built_in_documents.h"
#include "documents/markdown_view.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

namespace {

QPushButton* footerButton(QWidget* parent, const QString& text, const QString& symbol)
{
    auto* button = new QPushButton(symbolIcon(symbol), text, parent);
    button->setAutoDefault(false);
    button->setMinimumHeight(32);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

} // namespace

QWidget* horizontalDivider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

DocumentSheet::DocumentSheet(const QString& title, const QString& symbol, const QString& markdown,
                             QSize size, QWidget* parent)
    : QDialog(parent), m_view(new MarkdownView(markdown, this))
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setFixedSize(size);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 12, 20, 12);
    const QFont headerFont = [] {
        QFont font = textStyleFont(TextStyle::Title3, QFont());
        font.setBold(true);
        return font;
    }();
    const QIcon icon = symbolIcon(symbol);
    if (!icon.isNull()) {
        auto* image = new QLabel(this);
        const int side = QFontMetrics(headerFont).height();
        image->setPixmap(icon.pixmap(side, side));
        header->addWidget(image);
    }
    auto* titleLabel = new QLabel(title, this);
    titleLabel->setTextFormat(Qt::PlainText);
    setTextStyle(titleLabel, TextStyle::Title3, true);
    header->addWidget(titleLabel);
    header->addStretch(1);
    auto* done = new QPushButton(tr("Done"), this);
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(done);
    layout->addLayout(header);
    layout->addWidget(horizontalDivider(this));
    layout->addWidget(m_view, 1);
}

void DocumentSheet::showEvent(QShowEvent* event)
{
    m_view->scrollToTop();
    QDialog::showEvent(event);
}

HelpSheet::HelpSheet(QWidget* parent)
    : DocumentSheet(tr("Quillbay Help"), QStringLiteral("questionmark.circle"),
                    BuiltInDocuments::help(), QSize(680, 640), parent)
{
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(20, 14, 20, 14);
    footer->setSpacing(16);
    QPushButton* report = footerButton(this, tr("Report Crash"), QStringLiteral("ladybug"));
    QPushButton* feedback = footerButton(this, tr("Send Feedback"), QStringLiteral("envelope"));
    footer->addWidget(report, 1);
    footer->addWidget(feedback, 1);
    layout()->addWidget(horizontalDivider(this));
    static_cast<QVBoxLayout*>(layout())->addLayout(footer);
    connect(report, &QPushButton::clicked, this, &HelpSheet::reportCrashRequested);
    connect(feedback, &QPushButton::clicked, this, &HelpSheet::sendFeedbackRequested);
}

TermsSheet::TermsSheet(QWidget* parent)
    : DocumentSheet(tr("Terms & Conditions"), QStringLiteral("doc.text"), BuiltInDocuments::terms(),
                    QSize(720, 620), parent)
{}

PrivacySheet::PrivacySheet(QWidget* parent)
    : DocumentSheet(tr("Privacy Policy"), QStringLiteral("lock.shield"),
                    BuiltInDocuments::privacyPolicy(), QSize(720, 620), parent)
{}

} // namespace qb
