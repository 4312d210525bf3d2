#include "wifi/upload_file_writer.h"

#include "platform/app_paths.h"
#include "platform/local_files.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qb {
namespace {

// Gives up on finding a free name after this many taken ones.
constexpr int kMaxNameCandidates = 100000;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Renames without replacing anything that exists at `to`; errno EEXIST when it does.
bool renameNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // File systems without RENAME_NOREPLACE: a hard link is just as exclusive.
    if (::link(source.constData(), target.constData()) != 0) {
        return false;
    }
    ::unlink(source.constData());
    return true;
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
    name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    if (name.trimmed().isEmpty() || name == u"." || name == u"..") {
        return QStringLiteral("received_") + QString::number(nowSeconds);
    }
    return LocalFiles::shortenedName(name);
}

UploadFileWriter::Error UploadFileWriter::open(const QString& downloadsFolder, qint64 nowSeconds)
{
    m_folder = AppPaths::receivedFilesFolder(downloadsFolder);
    const QFileInfo info(m_folder);
    if ((info.exists() && !info.isDir()) || (info.isSymLink() && !info.exists())) {
        const QString aside =
            QDir(downloadsFolder)
                .filePath(QStringLiteral("Quillbay (old file %1)").arg(nowSeconds));
        if (!renameNoReplace(m_folder, aside)) {
            m_log.error(QStringLiteral("Could not move stale file: %1"), {errorText(errno)});
            return Error::StaleFileBlocksFolder;
        }
        m_log.info(QStringLiteral("Renamed stale file at %1 → %2"), {m_folder, aside});
    }
    if (!QDir().mkpath(m_folder)) {
        m_log.error(QStringLiteral("Failed to create dir: %1"),
                    {QStringLiteral("cannot create %1").arg(m_folder)});
        return Error::CreateFolderFailed;
    }
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
    const auto [base, extension] = LocalFiles::splitExtension(name);
    const QDir folder(m_folder);
    for (int n = 0; n < kMaxNameCandidates; ++n) {
        const QString candidate =
            folder.filePath(n == 0 ? name : LocalFiles::numberedName(base, extension, n));
        if (renameNoReplace(m_tempPath, candidate)) {
            m_tempPath.clear();
            // The file is whole; a folder that cannot be flushed only risks its name.
            LocalFiles::syncFolder(m_folder);
            return candidate;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    m_log.error(QStringLiteral("Failed to write file: %1"), {errorText(errno)});
    discard();
    return std::nullopt;
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
