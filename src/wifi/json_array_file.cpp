#include "wifi/json_array_file.h"

#include "platform/local_files.h"
#include "platform/logger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

namespace {

Logger registryLog()
{
    return Logger(QStringLiteral("WiFiAdvertiser"), true);
}

// "; it belongs to <user>" when the file at `path` is not this user's: the likeliest reason
// it cannot be used, and what the user needs to know to give it back.
QString ownerNote(const QString& path)
{
    struct stat status
    {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || status.st_uid == ::geteuid())
        return {};
    return QStringLiteral("; it belongs to %1").arg(LocalFiles::userName(status.st_uid));
}

} // namespace

JsonArrayFile::JsonArrayFile(QString path) : m_path(std::move(path)) {}

std::optional<QJsonArray> JsonArrayFile::readArray()
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0) {
        const int error = errno;
        leaveAlone(QStringLiteral("The folder \u201c%1\u201d cannot be written (%2)%3.")
                       .arg(QDir::toNativeSeparators(folder), LocalFiles::errnoText(error),
                            ownerNote(folder)));
    } else {
        removeCutSaves();
    }
    struct stat status
    {};
    if (::stat(QFile::encodeName(m_path).constData(), &status) != 0 && errno == ENOENT)
        return std::nullopt;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        leaveAlone(
            QStringLiteral("\u201c%1\u201d cannot be read (%2)%3.")
                .arg(QDir::toNativeSeparators(m_path), file.errorString(), ownerNote(m_path)));
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

void JsonArrayFile::leaveAlone(const QString& why)
{
    if (!m_problem.isEmpty())
        return;
    m_problem = why;
    registryLog().error(QStringLiteral("Leaving %1 as it is and saving nothing over it: %2"),
                        {m_path, why});
}

void JsonArrayFile::removeCutSaves() const
{
    // A save names its file "<name>.XXXXXX" beside the old one before the rename over it (from
    // the start, where the file system cannot make an unnamed file); a crash or a power cut in
    // between leaves that behind. The six letters are random, of both cases: a name of the user's
    // own ("wifi_peers.json.backup", "….Backup") is a word, and is left alone. So is one in
    // twenty of the leftovers, which costs only its room.
    const QFileInfo info(m_path);
    const QRegularExpression cut(
        QStringLiteral("^%1\\.(?=[A-Za-z]*[a-z])[A-Za-z](?=[A-Za-z]*[A-Z])[A-Za-z]{5}$")
            .arg(QRegularExpression::escape(info.fileName())));
    const QFileInfoList candidates =
        QDir(info.absolutePath())
            .entryInfoList({info.fileName() + QStringLiteral(".??????")},
                           QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QFileInfo& candidate : candidates) {
        if (!cut.match(candidate.fileName()).hasMatch())
            continue;
        if (QFile::remove(candidate.absoluteFilePath()))
            registryLog().info(QStringLiteral("Removed %1, left by a save that was cut off"),
                               {candidate.absoluteFilePath()});
    }
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
    // Another user's file, or a folder this user cannot write, stays as the user will find it.
    if (!m_problem.isEmpty())
        return false;
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
    // The new name is only in the folder's entries until the folder reaches the disk.
    if (const int error = LocalFiles::syncFolder(QFileInfo(m_path).absolutePath())) {
        registryLog().error(QStringLiteral("Could not save %1: its folder was not flushed (%2)"),
                            {m_path, LocalFiles::errnoText(error)});
        return false;
    }
    return true;
}

} // namespace qb
