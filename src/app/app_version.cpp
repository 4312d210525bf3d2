#include "app/app_version.h"

#include "app/build_info.h"

namespace qb::AppVersion {

QString version()
{
    const QString text = QStringLiteral(QB_VERSION_TEXT);
    return text.isEmpty() ? QStringLiteral("1.0.0") : text;
}

QString build()
{
    const QString text = QStringLiteral(QB_BUILD_NUMBER_TEXT);
    return text.isEmpty() ? QStringLiteral("1") : text;
}

QString versionLine()
{
    return QStringLiteral("Version %1 (%2)").arg(version(), build());
}

} // namespace qb::AppVersion
