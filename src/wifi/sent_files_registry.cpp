#include "wifi/sent_files_registry.h"

#include "platform/app_paths.h"
#include "platform/logger.h"

#include <QDir>
#include <QJsonArray>

namespace qb {

SentFilesRegistry::SentFilesRegistry(const QString& folder, QObject* parent)
    : QObject(parent), m_file(QDir(folder).filePath(kFileName)),
      m_clock([] { return QDateTime::currentDateTimeUtc(); }), m_gate(this)
{
    if (!QDir().mkpath(folder))
        Logger(QStringLiteral("WiFiAdvertiser"), true)
            .error(QStringLiteral("Could not create %1"), {folder});
    m_files = m_file.load<SentFile>(&SentFile::fromJson);
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
    return QUrl::fromLocalFile(m_file.path());
}

void SentFilesRegistry::record(const QUrl& url, qint64 bytes, const QString& recipientHost)
{
    QList<SentFile> files = m_files;
    files.prepend(SentFile{QUuid::createUuid(), url, bytes, m_clock(), recipientHost});
    setFiles(files);
    save();
}

bool SentFilesRegistry::save()
{
    QJsonArray array;
    for (const SentFile& file : std::as_const(m_files))
        array.append(file.toJson());
    return m_file.save(array);
}

void SentFilesRegistry::recordSentFileOnMainActor(const QUrl& url, qint64 bytes,
                                                  const QString& recipientHost)
{
    m_gate.post([this, url, bytes, recipientHost] { record(url, bytes, recipientHost); });
}

} // namespace qb
