#pragma once

#include <QWidget>

namespace qb {

// The setup guide: how to connect a phone over USB or Wi-Fi.
class OnboardingPlaceholder : public QWidget
{
    Q_OBJECT

public:
    explicit OnboardingPlaceholder(QWidget* parent = nullptr);
};

} // namespace qb
