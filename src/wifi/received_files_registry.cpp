#include "wifi/received_files_registry.h"

#include "platform/app_paths.h"
#include "platform/local_files.h"
#include "platform/logger.h"

#include <QDir>

namespace qb {

ReceivedFilesRegistry::ReceivedFilesRegistry(const QString& folder, QObject* parent)
    : QObject(parent), m_clock([] { return QDateTime::currentDateTimeUtc(); }),
      m_writer(QDir(folder).filePath(kFileName), HistoryFileWriter::snapshotOf(m_files)),
      m_gate(this)
{
    if (!LocalFiles::makeFolder(folder))
        Logger(QStringLiteral("WiFiAdvertiser"), true)
            .error(QStringLiteral("Could not create %1"), {folder});
    m_files = m_writer.load<ReceivedFile>(&ReceivedFile::fromJson);
}

ReceivedFilesRegistry::~ReceivedFilesRegistry() = default;

ReceivedFilesRegistry& ReceivedFilesRegistry::shared()
{
    // Kept for the life of the process; connection threads may still post to it at exit.
    static ReceivedFilesRegistry* const instance =
        new ReceivedFilesRegistry(AppPaths::dataFolder());
    return *instance;
}

void ReceivedFilesRegistry::setFiles(const QList<ReceivedFile>& files)
{
    if (m_files == files)
        return;
    m_files = files;
    emit filesChanged();
}

QUrl ReceivedFilesRegistry::storeURL() const
{
    return QUrl::fromLocalFile(m_writer.path());
}

void ReceivedFilesRegistry::record(const QUrl& url, qint64 bytes, const QString& senderHost,
                                   const QString& senderName)
{
    // In place: a copy of a long history per record would cost the GUI thread its length.
    m_files.prepend(
        ReceivedFile{QUuid::createUuid(), url, bytes, m_clock(), senderHost, senderName});
    m_writer.changed();
    emit filesChanged();
}

bool ReceivedFilesRegistry::save(QDeadlineTimer deadline)
{
    return m_writer.flush(deadline);
}

void ReceivedFilesRegistry::recordTask(const QUrl& url, qint64 bytes, const QString& senderHost,
                                       const QString& senderName)
{
    m_gate.post(
        [this, url, bytes, senderHost, senderName] { record(url, bytes, senderHost, senderName); });
}

} // namespace qb
