#pragma once

#include "browsing/phone_item_transferable.h"
#include "core/transfer/transfer_job.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class QMimeData;

namespace qb {

// What one drop turns into: the jobs to queue, how many times to ask for the transfer queue,
// the phone files to copy through the computer into another phone's folder, and the messages of
// items that were refused for a reason the user should hear.
struct DropPlan
{
    QList<TransferJob> jobs;
    int showQueueRequests = 0;
    QList<PhoneItemTransferable> crossPhoneCopies;
    QString targetDeviceId; // of the copies
    QString targetFolderPath;
    quint64 targetAttachment = 0;
    QStringList refusals;
};

// The readable content of a drop, taken from its QMimeData on the GUI thread.
struct DropContent
{
    QList<QUrl> urls;
    QList<PhoneItemTransferable> phoneItems;

    static DropContent from(const QMimeData& data);
    // Web links and other non-file URLs are no files to transfer.
    bool hasFileUrls() const;
};

// Alt (the other platform's Option) or Ctrl, the usual copy modifier here.
bool isCopyModifier(Qt::KeyboardModifiers modifiers);

// The phone folder on screen when something is dropped on the phone pane.
struct PhoneDropTarget
{
    QString deviceId;       // empty when no phone is shown
    QString folderPath;     // empty when no folder is listed
    quint64 attachment = 0; // of the phone shown (Device::attachment)
};

// Whether the phone pane takes the drop at all (answered at drag-enter and again at the drop,
// before the plan is made): a folder is listed, and the drop holds a file or a phone item.
bool phonePaneAccepts(const PhoneDropTarget& target, const DropContent& content);

// Files and folders from the computer become uploads into the folder on screen, one request for
// the transfer queue each. Phone items of the same phone become moves, or copies with `copy`,
// except those already in that folder. A file of another phone is copied through the computer
// (a move or copy job names one phone for both ends, so it cannot cross phones); a folder of
// another phone is refused. With no folder on screen nothing is queued.
// Reads the file system: call it off the GUI thread.
DropPlan planPhonePaneDrop(const PhoneDropTarget& target, const DropContent& content, bool copy);

// The computer pane's view of the sidebar's selection at the moment of a drop.
struct ComputerDropTarget
{
    QString folderPath;                 // the folder the pane shows
    std::optional<QString> deviceId;    // selected phone
    std::optional<QString> storagePath; // top folder of the selected storage
    quint64 attachment = 0;             // of the selected phone (Device::attachment)
};

// Phone items are always taken, even of a phone that has gone (the engine then says so);
// computer files only while a phone and a storage are selected.
bool computerPaneAccepts(const ComputerDropTarget& target, const DropContent& content);

// Phone items become downloads from their own phone into the folder shown; computer files become
// uploads to the top folder of the selected storage. Every job asks for the transfer queue once.
// Reads the file system: call it off the GUI thread.
DropPlan planComputerPaneDrop(const ComputerDropTarget& target, const DropContent& content);

} // namespace qb

Q_DECLARE_METATYPE(qb::DropPlan)
