#include "wifi/upload_file_writer.h"

#include "platform/app_paths.h"
#include "platform/local_files.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qb {
namespace {

QString errorText(int error)
{
    return LocalFiles::errnoText(error);
}

} // namespace

UploadFileWriter::UploadFileWriter(Logger log) : m_log(std::move(log)) {}

UploadFileWriter::~UploadFileWriter()
{
    discard();
}

QString UploadFileWriter::uploadName(const std::optional<QString>& fileName, qint64 nowSeconds)
{
    QString name = fileName.value_or(QString());
    // Only the last component counts: the file must land in the "Quillbay" folder.
    const qsizetype separator = std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    name = name.mid(separator + 1);
    // Direction controls would let "\u202Etxt.exe" read as "exe.txt" wherever it is shown.
    name.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return c.category() == QChar::Other_Control || (u >= 0x202A && u <= 0x202E) ||
               (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F || u == 0x061C;
    });
    const QString fallback = QStringLiteral("received_") + QString::number(nowSeconds);
    return name.trimmed().isEmpty() ? fallback : LocalFiles::singleComponent(name, fallback);
}

UploadFileWriter::Error UploadFileWriter::open(const QString& downloadsFolder, qint64 nowSeconds)
{
    m_folder = AppPaths::receivedFilesFolder(downloadsFolder);
    const QFileInfo info(m_folder);
    if ((info.exists() && !info.isDir()) || (info.isSymLink() && !info.exists())) {
        const QString aside =
            QDir(downloadsFolder)
                .filePath(QStringLiteral("Quillbay (old file %1)").arg(nowSeconds));
        if (const int error = LocalFiles::renameNoReplace(m_folder, aside)) {
            m_log.error(QStringLiteral("Could not move stale file: %1"), {errorText(error)});
            return Error::StaleFileBlocksFolder;
        }
        m_log.info(QStringLiteral("Renamed stale file at %1 → %2"), {m_folder, aside});
    }
    const bool existed = info.isDir();
    if (!LocalFiles::makeFolder(m_folder)) {
        m_log.error(QStringLiteral("Failed to create dir: %1"),
                    {QStringLiteral("cannot create %1").arg(m_folder)});
        return Error::CreateFolderFailed;
    }
    // What uploads cut off by a crash left there, once a run.
    if (existed)
        LocalFiles::removeCrashLeftoversOnce(m_folder);
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        const QString candidate =
            QDir(m_folder).filePath(QStringLiteral(".quillbay-upload-%1.part")
                                        .arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
        m_fd = ::open(QFile::encodeName(candidate).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_tempPath = candidate;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (m_fd < 0) {
        m_log.error(QStringLiteral("Failed to write file: %1"), {errorText(errno)});
        return Error::WriteFailed;
    }
    return Error::None;
}

bool UploadFileWriter::write(const char* data, qint64 size)
{
    while (size > 0 && m_fd >= 0) {
        const ssize_t written = ::write(m_fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_log.error(QStringLiteral("Failed to write file: %1"), {errorText(errno)});
            discard();
            return false;
        }
        data += written;
        size -= written;
        m_written += written;
    }
    if (m_fd >= 0 && m_written - m_writeBackFrom >= kWriteBackWindow) {
        // Only starts the write-back; a failure here shows up again in the final flush.
        ::sync_file_range(m_fd, m_writeBackFrom, m_written - m_writeBackFrom,
                          SYNC_FILE_RANGE_WRITE);
        m_writeBackFrom = m_written;
    }
    return m_fd >= 0;
}

std::optional<QString> UploadFileWriter::commit(const QString& name)
{
    if (m_fd < 0) {
        return std::nullopt;
    }
    // On the disk before it takes its name and before the phone hears "ok".
    if (const int error = LocalFiles::syncFile(m_fd)) {
        m_log.error(QStringLiteral("Failed to write file: %1"), {errorText(error)});
        discard();
        return std::nullopt;
    }
    if (::close(m_fd) != 0) {
        m_fd = -1;
        m_log.error(QStringLiteral("Failed to write file: %1"), {errorText(errno)});
        discard();
        return std::nullopt;
    }
    m_fd = -1;
    int error = 0;
    const QString path = LocalFiles::claimFreeName(m_tempPath, m_folder, name, &error);
    if (path.isEmpty()) {
        m_log.error(QStringLiteral("Failed to write file: %1"), {errorText(error)});
        discard();
        return std::nullopt;
    }
    m_tempPath.clear();
    // The file is whole; a folder that cannot be flushed only risks its name.
    LocalFiles::syncFolder(m_folder);
    return path;
}

void UploadFileWriter::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.isEmpty()) {
        ::unlink(QFile::encodeName(m_tempPath).constData());
        m_tempPath.clear();
    }
}

} // namespace qb
