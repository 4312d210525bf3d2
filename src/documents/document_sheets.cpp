#include "documents/document_sheets.h"

#include "documents/built_in_documents.h"
#include "documents/markdown_view.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

DocumentSheet::DocumentSheet(const QString& title, const QString& markdown, QSize size,
                             QWidget* parent)
    : QDialog(parent), m_view(new MarkdownView(markdown, this)), m_footer(new QWidget(this))
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    resize(size);
    auto* layout = new QVBoxLayout(this);
    auto* header = new QHBoxLayout;
    header->addStretch(1);
    auto* done = new QPushButton(tr("Done"), this);
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(done);
    layout->addLayout(header);
    layout->addWidget(m_view, 1);
    new QHBoxLayout(m_footer);
    layout->addWidget(m_footer);
    m_footer->hide();
}

void DocumentSheet::showEvent(QShowEvent* event)
{
    m_view->scrollToTop();
    QDialog::showEvent(event);
}

HelpSheet::HelpSheet(QWidget* parent)
    : DocumentSheet(tr("Quillbay Help"), BuiltInDocuments::help(), QSize(680, 640), parent)
{
    auto* report = new QPushButton(tr("Report Crash"), footer());
    auto* feedback = new QPushButton(tr("Send Feedback"), footer());
    footer()->layout()->addWidget(report);
    footer()->layout()->addWidget(feedback);
    footer()->show();
    connect(report, &QPushButton::clicked, this, &HelpSheet::reportCrashRequested);
    connect(feedback, &QPushButton::clicked, this, &HelpSheet::sendFeedbackRequested);
}

TermsSheet::TermsSheet(QWidget* parent)
    : DocumentSheet(tr("Terms & Conditions"), BuiltInDocuments::terms(), QSize(720, 620), parent)
{}

PrivacySheet::PrivacySheet(QWidget* parent)
    : DocumentSheet(tr("Privacy Policy"), BuiltInDocuments::privacyPolicy(), QSize(720, 620),
                    parent)
{}

} // namespace qb
