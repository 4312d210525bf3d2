#include "browsing/android_browser_pane.h"

#include <QLabel>
#include <QVBoxLayout>

namespace qb {

AndroidBrowserPane::AndroidBrowserPane(const PaneContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_toolbarItems(new QWidget(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("AndroidBrowserPane"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}

} // namespace qb
