#include "documents/about_tab.h"

#include "documents/built_in_documents.h"
#include "documents/command_bus.h"
#include "documents/markdown_view.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

AboutTab::AboutTab(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new MarkdownView(BuiltInDocuments::about(), this), 1);
    auto* buttons = new QHBoxLayout;
    auto* terms = new QPushButton(tr("Terms & Conditions"), this);
    auto* privacy = new QPushButton(tr("Privacy Policy"), this);
    buttons->addWidget(terms);
    buttons->addWidget(privacy);
    layout->addLayout(buttons);
    connect(terms, &QPushButton::clicked, this,
            [] { CommandBus::shared().post(Notifications::showTerms); });
    connect(privacy, &QPushButton::clicked, this,
            [] { CommandBus::shared().post(Notifications::showPrivacy); });
}

} // namespace qb
