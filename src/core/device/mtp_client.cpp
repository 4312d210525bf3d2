#include "core/device/mtp_client.h"

#include "bridge/mtp_bridge.h"
#include "core/device/serial_executor.h"
#include "platform/logger.h"
#include "platform/process_runner.h"

#include <QCoreApplication>
#include <QFile>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>

namespace qb {

namespace {

struct HandleCloser
{
    void operator()(mtp_bridge_handle* handle) const { mtp_bridge_close_device(handle); }
};
using HandlePtr = std::unique_ptr<mtp_bridge_handle, HandleCloser>;

template <typename T> struct BridgeArrayFree
{
    void operator()(T* array) const { mtp_bridge_free(array); }
};
template <typename T> using BridgeArray = std::unique_ptr<T, BridgeArrayFree<T>>;

QString text(const char* field, size_t size)
{
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, size)));
}

template <size_t N> QString text(const char (&field)[N])
{
    return text(field, N);
}

const QString kNoDevice = QStringLiteral("No device open");
const QString kSystemctl = QStringLiteral("/usr/bin/systemctl");
const QString kPkill = QStringLiteral("/usr/bin/pkill");
const QString kMonitorService = QStringLiteral("gvfs-mtp-volume-monitor.service");
const QString kMonitorDaemon = QStringLiteral("gvfsd-mtp");

// libmtp counts bytes unsigned; a figure past the signed range is capped rather than turned
// negative.
qint64 byteCount(uint64_t value)
{
    return static_cast<qint64>(std::min<uint64_t>(value, std::numeric_limits<qint64>::max()));
}

int32_t progressTrampoline(uint64_t sent, uint64_t total, void* context)
{
    auto* progress = static_cast<const ProgressFn*>(context);
    if (!progress || !*progress)
        return 0;
    try {
        (*progress)(byteCount(sent), byteCount(total));
    } catch (...) {
        // A progress observer's failure must not unwind through libmtp.
    }
    return 0;
}

QString failureText(const mtp_bridge_handle* handle)
{
    QString message = handle ? text(handle->last_error) : QString();
    return message.isEmpty() ? QStringLiteral("Unknown error") : message;
}

} // namespace

// Everything the device thread works with. Shared with the queued work so the thread can finish
// it (and close the device) after the client itself is gone.
struct MTPClient::Session
{
    HandlePtr handle;
    std::shared_ptr<ProcessRunner> runner;
    SleepFn sleep;
    std::atomic<bool> suspended{false};
    Logger log = Logger::mtp();

    mtp_bridge_handle* requireHandle() const
    {
        if (!handle)
            throw MTPError::operationFailed(kNoDevice);
        return handle.get();
    }

    // The desktop's MTP volume monitor claims every phone's USB interface as it appears.
    void suspendVolumeMonitor()
    {
        if (runner) {
            runner->run(kSystemctl,
                        {QStringLiteral("--user"), QStringLiteral("stop"), kMonitorService});
            runner->run(kPkill, {QStringLiteral("-9"), QStringLiteral("-x"), kMonitorDaemon});
        }
        suspended = true;
    }

    // Runs at most once per suspension, whichever of close, failed open, destruction or
    // application quit comes first.
    void restoreVolumeMonitor()
    {
        if (!suspended.exchange(false))
            return;
        if (runner)
            runner->run(kSystemctl,
                        {QStringLiteral("--user"), QStringLiteral("start"), kMonitorService});
    }

    void closeHandle()
    {
        if (!handle)
            return;
        handle.reset();
        restoreVolumeMonitor();
    }

    void open(const QString& deviceId)
    {
        closeHandle();
        suspendVolumeMonitor();
        sleep(kSettleDelay);
        const QByteArray id = deviceId.toUtf8();
        for (int attempt = 1;; ++attempt) {
            HandlePtr opened(mtp_bridge_open_device(id.constData()));
            if (opened) {
                handle = std::move(opened);
                break;
            }
            log.error(QStringLiteral("MTP open attempt %1 failed, retrying…"),
                      {QString::number(attempt)});
            if (attempt == kOpenAttempts) {
                // Asked before the monitor returns, which would claim the interface itself.
                const bool busy = mtp_bridge_device_busy(id.constData()) != 0;
                restoreVolumeMonitor();
                throw busy ? MTPError::deviceBusy(deviceId) : MTPError::deviceNotFound(deviceId);
            }
            sleep(kRetryDelay);
        }
        log.info(QStringLiteral("Opened MTP device: %1"), {deviceId});
    }
};

MTPClient::MTPClient(Options options)
    : m_session(std::make_shared<Session>()), m_executor(std::make_unique<SerialExecutor>())
{
    mtp_bridge_init();
    m_session->runner = std::move(options.processRunner);
    m_session->sleep = options.sleep ? std::move(options.sleep) : [](std::chrono::milliseconds d) {
        std::this_thread::sleep_for(d);
    };
    if (auto* app = QCoreApplication::instance()) {
        // The desktop must get its volume monitor back even if the client outlives the run.
        std::weak_ptr<Session> weak = m_session;
        m_quitConnection = QObject::connect(app, &QCoreApplication::aboutToQuit, [weak] {
            if (auto session = weak.lock())
                session->restoreVolumeMonitor();
        });
    }
}

MTPClient::~MTPClient()
{
    QObject::disconnect(m_quitConnection);
    m_executor->post([session = m_session] {
        session->handle.reset();
        session->restoreVolumeMonitor();
    });
}

QList<MTPClient::DeviceInfo> MTPClient::listDevices()
{
    int32_t count = 0;
    BridgeArray<mtp_bridge_device_info> records(mtp_bridge_list_devices(&count));
    QList<DeviceInfo> devices;
    if (!records || count < 1)
        return devices;
    devices.reserve(count);
    for (int32_t i = 0; i < count; ++i)
        devices.append(deviceInfo(records.get()[i]));
    return devices;
}

QFuture<void> MTPClient::open(const QString& deviceId)
{
    return m_executor->run([session = m_session, deviceId] { session->open(deviceId); });
}

QFuture<void> MTPClient::close()
{
    return m_executor->run([session = m_session] { session->closeHandle(); });
}

QFuture<bool> MTPClient::isOpen()
{
    return m_executor->run([session = m_session] { return session->handle != nullptr; });
}

QFuture<QString> MTPClient::lastErrorMessage()
{
    return m_executor->run([session = m_session] {
        return QString::fromUtf8(mtp_bridge_last_error(session->handle.get()));
    });
}

QFuture<QList<MTPClient::StorageInfo>> MTPClient::listStorages()
{
    return m_executor->run([session = m_session] {
        int32_t count = 0;
        BridgeArray<mtp_bridge_storage_info> records(
            mtp_bridge_list_storages(session->requireHandle(), &count));
        QList<StorageInfo> storages;
        for (int32_t i = 0; records && i < count; ++i)
            storages.append(storageInfo(records.get()[i]));
        return storages;
    });
}

QFuture<QList<MTPClient::FileInfo>> MTPClient::listFiles(quint32 storageId, quint32 parentId)
{
    return m_executor->run([session = m_session, storageId, parentId] {
        mtp_bridge_handle* handle = session->requireHandle();
        int32_t count = 0;
        BridgeArray<mtp_bridge_file_info> records(
            mtp_bridge_list_files(handle, storageId, parentId, &count));
        // A phone that is locking or waking refuses some requests for a moment: one more try
        // usually gets the whole folder.
        if (count == MTP_BRIDGE_LISTING_INCOMPLETE)
            records.reset(mtp_bridge_list_files(handle, storageId, parentId, &count));
        // An unreadable folder, or one read only in part, is an error, never a shorter folder.
        if (count < 0)
            throw MTPError::operationFailed(failureText(handle));
        QList<FileInfo> files;
        files.reserve(count);
        for (int32_t i = 0; records && i < count; ++i)
            files.append(fileInfo(records.get()[i]));
        return files;
    });
}

QFuture<MTPClient::FileInfo> MTPClient::objectInfo(quint32 objectId)
{
    return m_executor->run([session = m_session, objectId] {
        mtp_bridge_handle* handle = session->requireHandle();
        mtp_bridge_file_info record;
        if (mtp_bridge_get_file_info(handle, objectId, &record) != 0)
            throw MTPError::operationFailed(failureText(handle));
        return fileInfo(record);
    });
}

QFuture<void> MTPClient::downloadFile(quint32 objectId, const QString& localPath,
                                      ProgressFn progress)
{
    return m_executor->run([session = m_session, objectId, path = QFile::encodeName(localPath),
                            progress = std::move(progress)] {
        mtp_bridge_handle* handle = session->requireHandle();
        const int32_t status =
            mtp_bridge_download_file(handle, objectId, path.constData(), progressTrampoline,
                                     const_cast<ProgressFn*>(&progress));
        // A full disk is not the phone's fault, and no retry can mend it.
        if (status != 0 && (handle->local_errno == ENOSPC || handle->local_errno == EDQUOT))
            throw std::system_error(handle->local_errno, std::generic_category());
        if (status == MTP_BRIDGE_NOT_A_FILE)
            throw MTPError::notAFile(failureText(handle));
        if (status != 0)
            throw MTPError::downloadFailed(failureText(handle));
    });
}

QFuture<void> MTPClient::uploadFile(const QString& localPath, quint32 storageId, quint32 parentId,
                                    ProgressFn progress)
{
    return m_executor->run([session = m_session, storageId, parentId,
                            path = QFile::encodeName(localPath), progress = std::move(progress)] {
        mtp_bridge_handle* handle = session->requireHandle();
        const int32_t status =
            mtp_bridge_upload_file(handle, path.constData(), storageId, parentId,
                                   progressTrampoline, const_cast<ProgressFn*>(&progress));
        if (status == MTP_BRIDGE_NOT_A_FILE)
            throw MTPError::notAFile(failureText(handle));
        if (status == MTP_BRIDGE_SOURCE_CHANGED)
            throw MTPError::sourceChanged(failureText(handle));
        if (status != 0)
            throw MTPError::uploadFailed(failureText(handle));
    });
}

QFuture<quint32> MTPClient::createFolder(const QString& name, quint32 storageId, quint32 parentId)
{
    return m_executor->run([session = m_session, name, storageId, parentId] {
        const quint32 id = mtp_bridge_create_folder(session->requireHandle(), storageId, parentId,
                                                    name.toUtf8().constData());
        if (id == 0)
            throw MTPError::operationFailed(QStringLiteral("Could not create folder '") + name +
                                            QStringLiteral("'"));
        return id;
    });
}

QFuture<void> MTPClient::deleteObject(quint32 objectId)
{
    return m_executor->run([session = m_session, objectId] {
        if (mtp_bridge_delete_object(session->requireHandle(), objectId) != 0)
            throw MTPError::operationFailed(QStringLiteral("Delete failed for objectId ") +
                                            QString::number(objectId));
    });
}

QFuture<void> MTPClient::renameObject(quint32 objectId, const QString& newName)
{
    return m_executor->run([session = m_session, objectId, newName] {
        if (mtp_bridge_rename_object(session->requireHandle(), objectId,
                                     newName.toUtf8().constData()) != 0)
            throw FileRepositoryError::renameNotSupported();
    });
}

MTPClient::DeviceInfo MTPClient::deviceInfo(const mtp_bridge_device_info& record)
{
    return {text(record.id), text(record.friendly_name), text(record.manufacturer),
            text(record.model), text(record.serial_number)};
}

MTPClient::StorageInfo MTPClient::storageInfo(const mtp_bridge_storage_info& record)
{
    return {record.storage_id, text(record.description), byteCount(record.capacity_bytes),
            byteCount(record.free_bytes)};
}

MTPClient::FileInfo MTPClient::fileInfo(const mtp_bridge_file_info& record)
{
    FileInfo info;
    info.objectId = record.object_id;
    info.parentId = record.parent_id;
    info.storageId = record.storage_id;
    info.name = text(record.name);
    info.virtualPath = text(record.path);
    info.isDirectory = record.is_folder != 0;
    info.size = byteCount(record.size);
    if (record.mtime >= 1)
        info.modifiedTime = QDateTime::fromSecsSinceEpoch(record.mtime, Qt::UTC);
    info.mimeType = text(record.mime_type);
    return info;
}

} // namespace qb
