#include "wifi_ui/wifi_phone_view.h"

#include <QLabel>
#include <QVBoxLayout>

namespace qb {

WiFiPhoneView::WiFiPhoneView(const WiFiRegistries& registries, QWidget* parent)
    : QWidget(parent), m_registries(registries)
{
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(tr("Wi-Fi phone"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}

} // namespace qb
