#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace qb::test {

// A question this process put to the file system about a path: the C library function asked
// (statx, stat, lstat, access, opendir or realpath) and whether the thread that started the
// watch asked it.
struct FileSystemCall
{
    QString function;
    QString path;
    bool onWatchingThread = false;
};

// From watchFileSystemCalls() on, records every such call whose path contains `pathPart`,
// forgetting those recorded before; an empty part stops recording. The thread that calls it is
// the watching thread (in widget tests, the GUI thread).
void watchFileSystemCalls(const QString& pathPart);
QList<FileSystemCall> watchedFileSystemCalls();
// Of `calls`, those the watching thread asked, as "function path".
QStringList callsOnWatchingThread(const QList<FileSystemCall>& calls);

} // namespace qb::test
