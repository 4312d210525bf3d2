#pragma once

#include "browsing/pane_context.h"

#include <QWidget>

namespace qb {

// The computer's own folders beside the phone pane.
class ComputerBrowserPane : public QWidget
{
    Q_OBJECT

public:
    explicit ComputerBrowserPane(const PaneContext& context, QWidget* parent = nullptr);

private:
    PaneContext m_context;
};

} // namespace qb
