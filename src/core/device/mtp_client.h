#pragma once

#include "core/device/file_repository.h"
#include "core/device/mtp_error.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QMetaObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

struct mtp_bridge_device_info;
struct mtp_bridge_storage_info;
struct mtp_bridge_file_info;

namespace qb {

class ProcessRunner;
class SerialExecutor;

// One open MTP device. Every call runs on the device's own serial thread, which owns the bridge
// handle, so libmtp never sees two calls for one device at once (transfers included). What the
// user waits to see (listings, storages, a new session) goes ahead of the transfers and changes
// that have not started yet, and so waits only for the call under way; everything else runs in
// the order asked. Results and failures (MTPError) come back as futures.
class MTPClient
{
public:
    using MTPError = qb::MTPError;
    using SleepFn = std::function<void(std::chrono::milliseconds)>;

    struct DeviceInfo
    {
        QString id;
        QString friendlyName;
        QString manufacturer;
        QString model;
        QString serialNumber;
        bool operator==(const DeviceInfo&) const = default;
    };

    struct StorageInfo
    {
        quint32 storageId = 0;
        QString name;
        qint64 capacityBytes = 0;
        qint64 availableBytes = 0;
        bool operator==(const StorageInfo&) const = default;
    };

    struct FileInfo
    {
        quint32 objectId = 0;
        quint32 parentId = 0;
        quint32 storageId = 0;
        QString name;
        QString virtualPath;
        bool isDirectory = false;
        qint64 size = 0;
        std::optional<QDateTime> modifiedTime;
        QString mimeType;
    };

    struct Options
    {
        // Suspends and restores the desktop's MTP volume monitor around opening; none = skip.
        std::shared_ptr<ProcessRunner> processRunner;
        // How the open sequence waits; tests record the waits instead of sleeping.
        SleepFn sleep;
    };

    static constexpr std::chrono::milliseconds kSettleDelay{700};
    static constexpr std::chrono::milliseconds kRetryDelay{500};
    static constexpr int kOpenAttempts = 5;

    explicit MTPClient(Options options);
    // Closes the device and restores the volume monitor after the work already queued; does not
    // wait for it.
    ~MTPClient();
    MTPClient(const MTPClient&) = delete;
    MTPClient& operator=(const MTPClient&) = delete;

    // The MTP devices on the bus, in the bridge's order. Never fails; callable from any thread.
    static QList<DeviceInfo> listDevices();

    QFuture<void> open(const QString& deviceId);
    QFuture<void> close();
    QFuture<bool> isOpen();
    QFuture<QString> lastErrorMessage();
    // Closes the open device's session and opens a new one (the same attempts as open()), after
    // the call under way and ahead of the transfers still waiting: libmtp keeps what it once read
    // of each object for the whole session, so only a new one sees a file edited on the phone.
    // Fails as open() does.
    QFuture<void> renewSession();
    QFuture<QList<StorageInfo>> listStorages();
    // parentId 0 is the storage's root folder.
    QFuture<QList<FileInfo>> listFiles(quint32 storageId, quint32 parentId);
    // The object as the phone reports it now; fails when the phone no longer has it.
    QFuture<FileInfo> objectInfo(quint32 objectId);
    QFuture<void> downloadFile(quint32 objectId, const QString& localPath, ProgressFn progress);
    QFuture<void> uploadFile(const QString& localPath, quint32 storageId, quint32 parentId,
                             ProgressFn progress);
    QFuture<quint32> createFolder(const QString& name, quint32 storageId, quint32 parentId);
    QFuture<void> deleteObject(quint32 objectId);
    QFuture<void> renameObject(quint32 objectId, const QString& newName);

    static DeviceInfo deviceInfo(const mtp_bridge_device_info& record);
    static StorageInfo storageInfo(const mtp_bridge_storage_info& record);
    static FileInfo fileInfo(const mtp_bridge_file_info& record);

    struct Session;

private:
    std::shared_ptr<Session> m_session;
    std::unique_ptr<SerialExecutor> m_executor;
    QMetaObject::Connection m_quitConnection;
};

} // namespace qb
