#pragma once

#include "platform/desktop_url_opener.h"

#include <QList>

namespace qb {

// Records the URLs it is asked to open; `handlerAvailable` decides the answer.
class FakeDesktopUrlOpener : public DesktopUrlOpener
{
public:
    bool handlerAvailable = true;
    QList<QUrl> opened;

    bool openUrl(const QUrl& url) override
    {
        opened.append(url);
        return handlerAvailable;
    }
};

} // namespace qb
