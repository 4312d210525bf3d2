#pragma once

#include "platform/logger.h"

#include <QString>

#include <optional>
#include <utility>

namespace qb {

// Writes one uploaded file into Downloads/"Quillbay": the bytes go to a temporary file in that
// folder, which takes its final, free name only once it is complete. A writer destroyed before
// `commit()` leaves nothing behind.
class UploadFileWriter
{
public:
    enum class Error { None, StaleFileBlocksFolder, CreateFolderFailed, WriteFailed };

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
};

} // namespace qb
