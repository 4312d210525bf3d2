#include "wifi/json_array_file.h"

#include "platform/logger.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

#include <sys/stat.h>

namespace qb {

namespace {

Logger registryLog()
{
    return Logger(QStringLiteral("WiFiAdvertiser"), true);
}

} // namespace

JsonArrayFile::JsonArrayFile(QString path) : m_path(std::move(path)) {}

std::optional<QJsonArray> JsonArrayFile::readArray()
{
    QFile file(m_path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        registryLog().error(QStringLiteral("Could not read %1: %2"), {m_path, file.errorString()});
        markUnreadable();
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        markUnreadable();
        return std::nullopt;
    }
    return document.array();
}

void JsonArrayFile::markUnreadable()
{
    if (!m_unreadable)
        registryLog().warning(QStringLiteral("Ignoring undecodable %1"), {m_path});
    m_unreadable = true;
}

bool JsonArrayFile::setAsideUnreadable()
{
    if (!m_unreadable)
        return true;
    QFile file(m_path);
    if (!file.exists()) {
        m_unreadable = false;
        return true;
    }
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    QString target = m_path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target =
            m_path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!file.rename(target)) {
        registryLog().error(QStringLiteral("Could not set aside %1: %2"),
                            {m_path, file.errorString()});
        return false;
    }
    registryLog().warning(QStringLiteral("Set aside undecodable %1 as %2"), {m_path, target});
    m_unreadable = false;
    m_setAsidePath = target;
    return true;
}

bool JsonArrayFile::save(const QJsonArray& array)
{
    // Overwriting an undecodable file would destroy what might still be recovered by hand.
    if (!setAsideUnreadable())
        return false;

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        registryLog().error(QStringLiteral("Could not save %1: %2"), {m_path, file.errorString()});
        return false;
    }
    // The temporary file takes the old file's mode or the umask; the tokens inside are the user's.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        registryLog().error(QStringLiteral("Could not restrict %1"), {m_path});
        file.cancelWriting();
        return false;
    }
    // QSaveFile keeps small writes in its buffer and does not notice when flushing that buffer
    // fails at commit(): a full disk would then replace the file with a truncated one.
    // A short write is followed by another, which then says why the disk took no more.
    const QByteArray bytes = QJsonDocument(array).toJson(QJsonDocument::Compact);
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 step = file.write(bytes.constData() + written, bytes.size() - written);
        if (step <= 0)
            break;
        written += step;
    }
    if (written != bytes.size() || !file.flush()) {
        registryLog().error(QStringLiteral("Could not save %1: %2"), {m_path, file.errorString()});
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        registryLog().error(QStringLiteral("Could not save %1: %2"), {m_path, file.errorString()});
        return false;
    }
    return true;
}

} // namespace qb
