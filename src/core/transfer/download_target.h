#pragma once

#include "core/transfer/overwrite_rule.h"

#include <QSet>
#include <QString>

#include <memory>
#include <mutex>

namespace qb {

// The temporary files of downloads not yet committed or discarded, so that quitting can remove
// those it gives up at once. Shared by the engine and the targets of its attempts.
class UnfinishedDownloads
{
public:
    // Removes the temporary file of every download not committed or discarded yet, and refuses
    // new ones from now on. Only temporary names are ever touched: a commit under way either has
    // given its file its final name already or fails for want of it. A phone call still writing
    // into a removed file (one that does not answer) writes into a file without a name, which
    // goes when the call ends or the process does.
    void abandon();

private:
    friend class DownloadTarget;
    bool add(const QString& temporaryPath); // false once abandoned
    void remove(const QString& temporaryPath);

    std::mutex m_mutex;
    QSet<QString> m_paths;
    bool m_abandoned = false;
};

// The local side of one download attempt. The phone writes into a hidden temporary file in the
// destination folder; only a complete file takes its final name, and it claims that name
// atomically, so an existing file is never lost to a partial one and two downloads of the same
// name both survive. Failures are thrown as TransferError.
class DownloadTarget
{
public:
    // With `unfinished`, the temporary file is listed there until it is committed or discarded.
    DownloadTarget(QString folderPath, const QString& phoneName, OverwriteRule rule,
                   std::shared_ptr<UnfinishedDownloads> unfinished = {});
    ~DownloadTarget(); // removes the temporary file unless it was committed
    DownloadTarget(const DownloadTarget&) = delete;
    DownloadTarget& operator=(const DownloadTarget&) = delete;

    // The nine characters a local name cannot hold each become "_"; "", "." and ".." become
    // a placeholder, so the result is always one plain component; a name over 255 bytes is
    // shortened, keeping its extension.
    static QString safeLocalName(const QString& phoneName);
    // The candidate itself when nothing is there, else "base (n).ext" with the smallest free n.
    static QString uniqueDestination(const QString& candidatePath);

    // Chooses the final name under the rule and creates the folder and the temporary file. The
    // first time in a run that a folder is used, old leftovers of crashed transfers are removed.
    // Returns false, touching nothing, when the rule is "skip" and the name is taken. Throws
    // TransferError once the downloads it is listed in have been abandoned.
    bool prepare();
    QString temporaryPath() const { return m_temporaryPath; }
    // Flushes the complete temporary file to the disk and gives it its final name. Returns false
    // when "skip" finds the name taken by then (the file is discarded). A full disk is thrown as
    // std::system_error.
    // Without `syncFolder`, the caller flushes the folder (finalPath's) itself later.
    bool commit(bool syncFolder = true);
    QString folderPath() const { return m_folderPath; }
    void discard();
    QString finalPath() const { return m_finalPath; }
    // The committed file's size in bytes.
    qint64 size() const { return m_size; }

private:
    void syncFolderIf(bool wanted) const;
    void markCommitted();

    QString m_folderPath;
    QString m_candidatePath;
    QString m_finalPath;
    QString m_temporaryPath;
    OverwriteRule m_rule;
    std::shared_ptr<UnfinishedDownloads> m_unfinished;
    bool m_replaceExisting = false;
    bool m_committed = false;
    qint64 m_size = 0;
};

} // namespace qb
