#pragma once

#include "browsing/pane_context.h"

#include <QWidget>

namespace qb {

// The phone's files, or the setup guide or a Wi-Fi phone's page, whichever the sidebar selects.
class AndroidBrowserPane : public QWidget
{
    Q_OBJECT

public:
    explicit AndroidBrowserPane(const PaneContext& context, QWidget* parent = nullptr);

    // The pane's toolbar items; the main window places them in its toolbar, before the
    // transfer-queue button, and shows them while the pane is shown.
    QWidget* toolbarItems() const { return m_toolbarItems; }

private:
    PaneContext m_context;
    QWidget* m_toolbarItems;
};

} // namespace qb
