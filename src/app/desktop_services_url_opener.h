#pragma once

#include "platform/desktop_url_opener.h"

namespace qb {

// Opens URLs with QDesktopServices (xdg-open or the desktop portal).
class DesktopServicesUrlOpener : public DesktopUrlOpener
{
public:
    bool openUrl(const QUrl& url) override;
};

} // namespace qb
