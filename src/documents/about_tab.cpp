#include "documents/about_tab.h"

#include "documents/built_in_documents.h"
#include "documents/document_sheets.h"
#include "documents/markdown_view.h"
#include "ui_common/command_bus.h"
#include "ui_common/symbol_icon.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

AboutTab::AboutTab(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new MarkdownView(BuiltInDocuments::about(), this), 1);
    layout->addWidget(horizontalDivider(this));

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(14, 14, 14, 14);
    buttons->setSpacing(12);
    auto* terms =
        new QPushButton(symbolIcon(QStringLiteral("doc.text")), tr("Terms && Conditions"), this);
    auto* privacy =
        new QPushButton(symbolIcon(QStringLiteral("lock.shield")), tr("Privacy Policy"), this);
    buttons->addStretch(1);
    buttons->addWidget(terms);
    buttons->addWidget(privacy);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    // The main window opens the sheets; with no main window nothing opens.
    connect(terms, &QPushButton::clicked, this,
            [] { CommandBus::shared().post(Notifications::showTerms); });
    connect(privacy, &QPushButton::clicked, this,
            [] { CommandBus::shared().post(Notifications::showPrivacy); });
}

} // namespace qb
