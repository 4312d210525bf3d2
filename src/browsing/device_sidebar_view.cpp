#include "browsing/device_sidebar_view.h"

#include <QLabel>
#include <QVBoxLayout>

namespace qb {

DeviceSidebarView::DeviceSidebarView(const PaneContext& context, QWidget* parent)
    : QWidget(parent), m_context(context)
{
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("DeviceSidebarView"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}

} // namespace qb
