#include "documents/onboarding_placeholder.h"

#include <QLabel>
#include <QVBoxLayout>

namespace qb {

OnboardingPlaceholder::OnboardingPlaceholder(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(tr("Connect Your Android Device"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}

} // namespace qb
