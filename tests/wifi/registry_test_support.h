#pragma once

#include "support/test_support.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>

#include <functional>
#include <thread>

namespace qb::test {

// 2001-01-01 00:00:00 UTC plus `seconds`.
inline QDateTime referenceDate(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(978307200000LL + qint64(seconds * 1000), Qt::UTC);
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// The permission bits of a file, or -1.
inline int fileMode(const QString& path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

// Runs `work` on a thread of its own, as a connection would, then applies what it posted to this
// (the GUI) thread.
inline void runOffGuiThread(const std::function<void()>& work)
{
    std::thread(work).join();
    QCoreApplication::processEvents();
}

} // namespace qb::test
