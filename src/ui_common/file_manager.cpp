#include "ui_common/file_manager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace qb {

namespace {

FileManager* g_override = nullptr;

} // namespace

void FileManager::showItem(const QString& path)
{
    const QString parent = QFileInfo(path).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        open(parent);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Asynchronous, so a slow or missing file manager never holds the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [this, parent](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             open(parent);
                         finished->deleteLater();
                     });
}

bool FileManager::open(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

FileManager& FileManager::shared()
{
    static FileManager desktop;
    return g_override ? *g_override : desktop;
}

void FileManager::setShared(FileManager* fileManager)
{
    g_override = fileManager;
}

} // namespace qb
