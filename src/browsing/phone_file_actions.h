#pragma once

#include "core/device/device_model.h"
#include "core/transfer/transfer_job.h"

#include <QList>
#include <QString>

#include <optional>

namespace qb {

class PreferenceStore;

// The decisions of the phone pane, made without widgets: which jobs an action builds, which
// finished jobs call for a reload, and what the pane shows.
namespace PhoneFileActions {

// The jobs name the phone by its id and by its attachment (Device::attachment), so that they
// never act on another phone that later has the same id.

// One download per item (folders included) into `folder`, in the items' order.
QList<TransferJob> downloadJobs(const QString& deviceId, const QList<FileItem>& items,
                                const QString& folder, quint64 attachment = 0);
// One deletion per item, in the items' order.
QList<TransferJob> deleteJobs(const QString& deviceId, const QList<FileItem>& items,
                              quint64 attachment = 0);
// The creation of `name` in `folderPath`; nothing without a device, a folder or a name.
std::optional<TransferJob> createFolderJob(const QString& deviceId, const QString& folderPath,
                                           const QString& name, quint64 attachment = 0);

// The folder downloads go to: "downloadFolder" when set, else the user's Downloads folder.
QString downloadFolder(const PreferenceStore* preferences);

// Whether a completed job among `finished` touched the phone: its destination is on the phone,
// or failing that its source. Failed and canceled jobs never count.
bool touchesDevice(const QList<TransferJob>& finished, const QString& deviceId);

enum class Content { SetupGuide, WiFiPhone, NoStorage, Files };
// First match wins: the guide when forced and no USB phone is selected; a selected Wi-Fi phone
// when no USB phone is; the guide when nothing is; the notice without a storage; the files.
Content chooseContent(bool forceGuide, bool hasDevice, bool hasWiFiPeer, bool hasStorage);

} // namespace PhoneFileActions

} // namespace qb
