#include "wifi/sent_files_registry.h"

#include "platform/app_paths.h"
#include "platform/local_files.h"
#include "platform/logger.h"

#include <QDir>

namespace qb {

SentFilesRegistry::SentFilesRegistry(const QString& folder, QObject* parent)
    : QObject(parent), m_clock([] { return QDateTime::currentDateTimeUtc(); }),
      m_writer(QDir(folder).filePath(kFileName), HistoryFileWriter::snapshotOf(m_files)),
      m_gate(this)
{
    if (!LocalFiles::makeFolder(folder))
        Logger(QStringLiteral("WiFiAdvertiser"), true)
            .error(QStringLiteral("Could not create %1"), {folder});
    m_files = m_writer.load<SentFile>(&SentFile::fromJson);
}

SentFilesRegistry::~SentFilesRegistry() = default;

SentFilesRegistry& SentFilesRegistry::shared()
{
    // Kept for the life of the process; connection threads may still post to it at exit.
    static SentFilesRegistry* const instance = new SentFilesRegistry(AppPaths::dataFolder());
    return *instance;
}

void SentFilesRegistry::setFiles(const QList<SentFile>& files)
{
    if (m_files == files)
        return;
    m_files = files;
    emit filesChanged();
}

QUrl SentFilesRegistry::storeURL() const
{
    return QUrl::fromLocalFile(m_writer.path());
}

void SentFilesRegistry::record(const QUrl& url, qint64 bytes, const QString& recipientHost)
{
    // In place: a copy of a long history per record would cost the GUI thread its length.
    m_files.prepend(SentFile{QUuid::createUuid(), url, bytes, m_clock(), recipientHost});
    m_writer.changed();
    emit filesChanged();
}

bool SentFilesRegistry::save(QDeadlineTimer deadline)
{
    return m_writer.flush(deadline);
}

void SentFilesRegistry::recordSentFileOnMainActor(const QUrl& url, qint64 bytes,
                                                  const QString& recipientHost)
{
    m_gate.post([this, url, bytes, recipientHost] { record(url, bytes, recipientHost); });
}

} // namespace qb
