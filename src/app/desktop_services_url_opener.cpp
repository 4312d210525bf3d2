#include "app/desktop_services_url_opener.h"

#include <QDesktopServices>

namespace qb {

bool DesktopServicesUrlOpener::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace qb
