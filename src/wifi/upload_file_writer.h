#pragma once

#include "platform/logger.h"

#include <QString>

#include <optional>
#include <utility>

namespace qb {

// Writes one uploaded file into Downloads/"Quillbay": the bytes go to a temporary file in that
// folder, which takes its final, free name only once it is complete and on the disk. A writer
// destroyed before `commit()` leaves nothing behind. The disk starts writing a large file back
// while it arrives, so that the flush at the end has little left to do. `commit()` may run on
// another thread than the writes, after them.
class UploadFileWriter
{
public:
    enum class Error { None, StaleFileBlocksFolder, CreateFolderFailed, WriteFailed };
    static constexpr qint64 kWriteBackWindow = 8 * 1024 * 1024;

    explicit UploadFileWriter(Logger log);
    ~UploadFileWriter();
    UploadFileWriter(const UploadFileWriter&) = delete;
    UploadFileWriter& operator=(const UploadFileWriter&) = delete;

    // Readies the "Quillbay" folder in `downloadsFolder` and opens the temporary file.
    Error open(const QString& downloadsFolder, qint64 nowSeconds);
    bool write(const char* data, qint64 size);
    // Moves the finished file to the first free name after `name`; the final path, or
    // nothing when that failed (the temporary file is then removed).
    std::optional<QString> commit(const QString& name);
    qint64 bytesWritten() const { return m_written; }
    QString folder() const { return m_folder; }

    // The phone's name reduced to one safe path component, else "received_" and the time.
    static QString uploadName(const std::optional<QString>& fileName, qint64 nowSeconds);

private:
    void discard();

    Logger m_log;
    QString m_folder;
    QString m_tempPath;
    int m_fd = -1;
    qint64 m_written = 0;
    qint64 m_writeBackFrom = 0; // the first byte whose write-back has not been started
};

} // namespace qb
