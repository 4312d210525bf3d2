#pragma once

#include "browsing/pane_context.h"

#include <QWidget>

namespace qb {

// The left column: USB phones with their storages, Wi-Fi phones and the setup guide.
class DeviceSidebarView : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceSidebarView(const PaneContext& context, QWidget* parent = nullptr);

private:
    PaneContext m_context;
};

} // namespace qb
