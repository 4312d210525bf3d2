#include "browsing/computer_browser_pane.h"

#include <QLabel>
#include <QVBoxLayout>

namespace qb {

ComputerBrowserPane::ComputerBrowserPane(const PaneContext& context, QWidget* parent)
    : QWidget(parent), m_context(context)
{
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("ComputerBrowserPane"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}

} // namespace qb
