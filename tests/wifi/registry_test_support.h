#pragma once

#include "support/test_support.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

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

// Whether only the user may read and write the file.
inline bool privateToTheUser(const QString& path)
{
    return QFile::permissions(path) ==
           (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

// Runs `work` on a thread of its own, as a connection would, then applies what it posted to this
// (the GUI) thread.
inline void runOffGuiThread(const std::function<void()>& work)
{
    std::thread(work).join();
    QCoreApplication::processEvents();
}

} // namespace qb::test
