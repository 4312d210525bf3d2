#pragma once

#include <QWidget>

namespace qb {

// The About tab of the settings window: the about document and two buttons that ask the main
// window for the Terms and Privacy sheets.
class AboutTab : public QWidget
{
    Q_OBJECT

public:
    explicit AboutTab(QWidget* parent = nullptr);
};

} // namespace qb
