#include "platform/app_paths.h"

#include <QDir>
#include <QStandardPaths>

namespace qb::AppPaths {

QString dataFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Quillbay");
}

QString downloadsFolder()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty())
        return downloads;
    return QDir::homePath() + QStringLiteral("/Downloads");
}

QString receivedFilesFolder(const QString& downloads)
{
    return QDir(downloads).filePath(QStringLiteral("Quillbay"));
}

} // namespace qb::AppPaths
