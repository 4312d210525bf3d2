#pragma once

#include <QUrl>

namespace qb {

// Hands a URL (a mailto: link, a folder) to the desktop's default handler.
class DesktopUrlOpener
{
public:
    virtual ~DesktopUrlOpener() = default;

    // False when no handler could be started for the URL.
    virtual bool openUrl(const QUrl& url) = 0;
};

} // namespace qb
