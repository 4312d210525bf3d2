#pragma once

#include <QString>

namespace qb {

// What the views ask of the desktop's file manager. Views reach it through shared(); tests
// install their own with setShared().
class FileManager
{
public:
    virtual ~FileManager() = default;

    // Shows the item selected in a file manager window (org.freedesktop.FileManager1 on the
    // session bus), or opens its parent folder when no file manager answers.
    virtual void showItem(const QString& path);
    // Opens a file or folder with the desktop's default application; false when none started.
    virtual bool open(const QString& path);

    static FileManager& shared();
    // Null restores the desktop's own.
    static void setShared(FileManager* fileManager);
};

} // namespace qb
