#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace qb::LocalFiles {

// Longest file name most Linux file systems take (NAME_MAX), in bytes of UTF-8.
inline constexpr qsizetype kMaxNameBytes = 255;

// `name` within `maxBytes` of UTF-8, cut at a character boundary; the extension is kept when it
// is short enough to leave room for some of the base.
QString shortenedName(const QString& name, qsizetype maxBytes = kMaxNameBytes);
// `name` as one plain component of a local path: "/" and NUL become "_", "", "." and ".." become
// `fallback`, and the result is shortened to the byte cap. Callers apply their own rules first.
QString singleComponent(QString name, const QString& fallback);
// Base and extension (without its dot). Only the last dot counts, and a leading dot starts a
// name, not an extension; a name without one has an empty extension.
std::pair<QString, QString> splitExtension(const QString& name);
// The n-th alternative of a taken name, "base (n).ext" or "base (n)", with the base shortened so
// the whole stays within `maxBytes`.
QString numberedName(const QString& base, const QString& extension, qint64 n,
                     qsizetype maxBytes = kMaxNameBytes);

// Renames `from` to `to` unless something is at `to`: 0, EEXIST when taken, else the errno.
// Atomic where the file system allows it (a no-replace rename, else a hard link); on one with
// neither (FAT) it can only look first.
int renameNoReplace(const QString& from, const QString& to);
// Gives the file at `from` the first free name of `name`, "name (1)", "name (2)", ... in
// `folder`, each claimed atomically, so two writers never take one name. The final path, or
// empty with `*error` set.
QString claimFreeName(const QString& from, const QString& folder, const QString& name, int* error);

// Flushes a file's data to the disk (fdatasync); 0 or the errno of the failure.
int syncFile(int fd);
int syncFile(const QString& path);
// Flushes a folder's entries (fsync), so a rename in it survives a power cut; 0 or the errno.
int syncFolder(const QString& path);
// Makes the folder at `path` and those above it that are missing, flushing each new folder's
// entry in its parent, so that a file saved into it at once does not lose its folder to a power
// cut. Whether a folder is there now; a failure is left to the caller to report.
bool makeFolder(const QString& path);
// The system's text for an errno value.
QString errnoText(int error);
// The login name of the user `uid`, or its number when the system knows no name for it.
QString userName(uint uid);
// "; it belongs to <user>" when the file or folder at `path` is not this user's, else empty: the
// likeliest reason it cannot be used, and what the user needs to know to give it back.
QString foreignOwnerNote(const QString& path);
// `text` as one word for a POSIX shell, whatever it holds: between single quotes, each single
// quote written '\''.
QString shellQuoted(const QString& text);

// Opens the file at `path` for reading, refusing anything but a regular file. The open itself
// never waits: a named pipe without a writer, or a device, would otherwise hold the calling
// thread for ever. The descriptor reads as an ordinary (blocking) one; `*size` is the file's
// size. -1 with `*error` set when the file cannot be opened or is not a regular file.
int openRegularFile(const QString& path, qint64* size, QString* error);

// What tells one version of an open file from the next: its size and its modification time to
// the nanosecond. Not its change time, which a rename or a chmod moves too.
struct FileStamp
{
    qint64 size = 0;
    qint64 modifiedNs = 0;
};
// The stamp of the open file `fd`; nothing when it cannot be read.
std::optional<FileStamp> fileStamp(int fd);
// Whether the file stamped `before` was written since, so that bytes read from it now may not
// belong with those read then: it shrank, or at the same size its modification time moved. A
// file that only grew is not (its first `before.size` bytes are as they were), nor one renamed,
// replaced by a rename or chmod-ed; nor, since it cannot be told, one rewritten at the same size
// whose writer then set the old modification time back.
bool rewrittenSince(const FileStamp& before, const FileStamp& now);

// Removes what a crash left of downloads and uploads in `folder`: files older than a day under
// the temporary names they use, ".quillbay-<uuid>.part" and ".quillbay-upload-<uuid>.part".
// Nothing else is touched, a user's file whose name merely looks alike included.
void removeCrashLeftovers(const QString& folder);
// removeCrashLeftovers() the first time in this run that it is asked for `folder`; listing a
// large folder costs time, so a batch of transfers into it must not list it for every file.
void removeCrashLeftoversOnce(const QString& folder);

// A new, empty folder of our own under the user's cache folder, for copies that pass through
// the computer (a move between phone folders, a paste). Not the system's temporary folder: that
// is often RAM-backed and too small for a video. Empty when it cannot be created.
QString createTemporaryFolder();
// Removes the folders of createTemporaryFolder() that nothing has touched for a day: what a crash,
// or a quit past a phone that did not answer, left behind. A folder still written to, and
// anything else in the cache folder, stays.
void removeStaleTemporaryFolders();

// Owns a folder from createTemporaryFolder(); removes it with everything in it when destroyed,
// so a copy leaves nothing behind on any path, failure included.
class TemporaryFolder
{
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    const QString& path() const { return m_path; }
    QString filePath(const QString& name) const { return m_path + u'/' + name; }

private:
    QString m_path;
};

} // namespace qb::LocalFiles
