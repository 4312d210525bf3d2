#include "browsing/file_list_menu.h"

#include <QCoreApplication>

namespace qb::FileListMenu {

namespace {

using Action = FileMenuEntry::Action;

QString tr(const char* text)
{
    return QCoreApplication::translate("FileListMenu", text);
}

FileMenuEntry separator()
{
    return {};
}

FileMenuEntry openEntry(const FileItem& item)
{
    return {Action::Open, item.isDirectory ? tr("Open") : tr("Preview"), QStringLiteral("eye")};
}

FileMenuEntry entry(Action action)
{
    switch (action) {
    case Action::Download:
        return {action, tr("Download"), QStringLiteral("arrow.down.circle")};
    case Action::Copy:
        return {action, tr("Copy"), QStringLiteral("doc.on.doc")};
    case Action::Rename:
        return {action, tr("Rename\u2026"), QStringLiteral("pencil")};
    case Action::Delete:
        return {action, tr("Delete"), QStringLiteral("trash"), true};
    case Action::NewFolder:
        return {action, tr("New Folder"), QStringLiteral("folder.badge.plus")};
    case Action::Paste:
        return {action, tr("Paste"), QStringLiteral("doc.on.clipboard")};
    case Action::Open:
    case Action::Separator:
        break;
    }
    return separator();
}

} // namespace

QList<FileMenuEntry> forBackground(bool hasPasteItems)
{
    QList<FileMenuEntry> entries{entry(Action::NewFolder)};
    if (hasPasteItems)
        entries << separator() << entry(Action::Paste);
    return entries;
}

QList<FileMenuEntry> forTable(const QSet<QString>& ids, const QList<FileItem>& affected,
                              bool hasPasteItems)
{
    if (ids.isEmpty())
        return forBackground(hasPasteItems);
    if (affected.isEmpty())
        return {};
    const bool single = ids.size() == 1;
    QList<FileMenuEntry> entries;
    if (single)
        entries << openEntry(affected.first()) << separator();
    entries << entry(Action::Download) << entry(Action::Copy);
    if (single)
        entries << entry(Action::Rename);
    entries << separator() << entry(Action::Delete);
    return entries;
}

QList<FileMenuEntry> forTile(const FileItem& item)
{
    return {openEntry(item),       separator(), entry(Action::Download), entry(Action::Copy),
            entry(Action::Rename), separator(), entry(Action::Delete)};
}

} // namespace qb::FileListMenu
