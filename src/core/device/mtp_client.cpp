#include "core/device/mtp_client.h"

#include "bridge/mtp_bridge.h"
#include "core/device/serial_executor.h"
#include "platform/logger.h"
#include "platform/process_runner.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>

#include <unistd.h>

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

// A top-level object may report its parent as 0 or as libmtp's own root id.
bool sameParent(uint32_t reported, quint32 asked)
{
    const auto top = [](uint32_t id) {
        return id == 0 || id == 0xFFFFFFFFu;
    };
    return reported == asked || (top(reported) && top(asked));
}

// `ownObject` is what a failed upload left behind (0: nothing); some phones keep it under the
// upload's name, and it is not a name the folder held before.
bool folderHolds(mtp_bridge_handle* handle, quint32 storageId, quint32 parentId,
                 const QString& name, uint32_t ownObject)
{
    int32_t count = 0;
    BridgeArray<mtp_bridge_file_info> records(
        mtp_bridge_list_files(handle, storageId, parentId, &count));
    for (int32_t i = 0; records && i < count; ++i) {
        const mtp_bridge_file_info& record = records.get()[i];
        if ((ownObject == 0 || record.object_id != ownObject) && text(record.name) == name)
            return true;
    }
    return false;
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
    // The device last opened, and whether its session must be opened anew before the next
    // request (a transport failure or a phone that closed the session left it unusable).
    QString deviceId;
    bool lost = false;

    mtp_bridge_handle* requireHandle()
    {
        if (lost)
            renew();
        if (!handle)
            throw MTPError::operationFailed(kNoDevice);
        return handle.get();
    }

    // After every request: a session libmtp cannot use any more is opened anew before the next.
    void noteOutcome()
    {
        if (!handle || !handle->session_lost || lost)
            return;
        lost = true;
        log.error(QStringLiteral("MTP session with %1 lost (%2); opening it again"),
                  {deviceId, failureText(handle.get())});
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
        lost = false;
        deviceId.clear();
        if (!handle)
            return;
        handle.reset();
        restoreVolumeMonitor();
    }

    void open(const QString& id)
    {
        closeHandle();
        deviceId = id;
        suspendVolumeMonitor();
        sleep(kSettleDelay);
        openHandle();
    }

    // A new session with the device already open, which starts with nothing of what libmtp
    // remembered of the phone's files and with the endpoints in step. The volume monitor stays
    // suspended throughout, so nothing else claims the phone in between.
    void renew()
    {
        if (deviceId.isEmpty())
            throw MTPError::operationFailed(kNoDevice);
        handle.reset();
        // Until a new session is open, every request tries again (once each).
        lost = true;
        if (!suspended) {
            suspendVolumeMonitor();
            sleep(kSettleDelay);
        }
        openHandle();
    }

    void openHandle()
    {
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
        lost = false;
        log.info(QStringLiteral("Opened MTP device: %1"), {deviceId});
    }
};

namespace {

// One request of the device thread: the handle, opened anew first if the last request lost the
// session, and on the way out whether this one lost it.
class Request
{
public:
    explicit Request(MTPClient::Session& session) : m_session(session) { session.requireHandle(); }
    ~Request() { m_session.noteOutcome(); }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    mtp_bridge_handle* handle() const { return m_session.handle.get(); }
    bool lostSession() const { return handle() && handle()->session_lost; }
    // A new session for a request that failed in the transport, to try it once more there.
    void renew()
    {
        m_session.noteOutcome();
        m_session.renew();
    }

private:
    MTPClient::Session& m_session;
};

// What the phone says of an object, asked on a new session after a transfer whose end is in
// doubt; nothing when the phone does not answer or is gone.
std::optional<mtp_bridge_file_info> infoOnNewSession(Request& request, uint32_t objectId)
{
    try {
        request.renew();
        mtp_bridge_file_info now;
        if (mtp_bridge_get_file_info(request.handle(), objectId, &now) == 0)
            return now;
    } catch (...) {
        // The phone is gone: nothing can be vouched for.
    }
    return std::nullopt;
}

} // namespace

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

QFuture<void> MTPClient::renewSession()
{
    return m_executor->runAhead([session = m_session] { session->renew(); });
}

QFuture<QList<MTPClient::StorageInfo>> MTPClient::listStorages()
{
    return m_executor->runAhead([session = m_session] {
        Request request(*session);
        int32_t count = 0;
        BridgeArray<mtp_bridge_storage_info> records(
            mtp_bridge_list_storages(request.handle(), &count));
        QList<StorageInfo> storages;
        for (int32_t i = 0; records && i < count; ++i)
            storages.append(storageInfo(records.get()[i]));
        return storages;
    });
}

QFuture<QList<MTPClient::FileInfo>> MTPClient::listFiles(quint32 storageId, quint32 parentId)
{
    return m_executor->runAhead([session = m_session, storageId, parentId] {
        Request request(*session);
        int32_t count = 0;
        BridgeArray<mtp_bridge_file_info> records;
        const auto list = [&] {
            records.reset(mtp_bridge_list_files(request.handle(), storageId, parentId, &count));
        };
        list();
        // A phone that is locking or waking refuses some requests for a moment: one more try
        // usually gets the whole folder.
        if (count == MTP_BRIDGE_LISTING_INCOMPLETE)
            list();
        // A listing broken off in the transport is asked once more on a new session, so a
        // phone that stalled once shows the folder rather than an error.
        if (count < 0 && request.lostSession()) {
            request.renew();
            list();
        }
        // An unreadable folder, or one read only in part, is an error, never a shorter folder.
        if (count < 0)
            throw MTPError::operationFailed(failureText(request.handle()));
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
        Request request(*session);
        mtp_bridge_file_info record;
        const int32_t status = mtp_bridge_get_file_info(request.handle(), objectId, &record);
        if (status == MTP_BRIDGE_NO_SUCH_OBJECT)
            throw MTPError::noSuchObject(failureText(request.handle()));
        if (status != 0)
            throw MTPError::operationFailed(failureText(request.handle()));
        return fileInfo(record);
    });
}

QFuture<void> MTPClient::downloadFile(quint32 objectId, const QString& localPath,
                                      ProgressFn progress)
{
    return m_executor->run([session = m_session, objectId, path = QFile::encodeName(localPath),
                            progress = std::move(progress)] {
        Request request(*session);
        mtp_bridge_handle* handle = request.handle();
        const int32_t status =
            mtp_bridge_download_file(handle, objectId, path.constData(), progressTrampoline,
                                     const_cast<ProgressFn*>(&progress));
        // A full disk is not the phone's fault, and no retry can mend it.
        if (status != 0 && (handle->local_errno == ENOSPC || handle->local_errno == EDQUOT))
            throw std::system_error(handle->local_errno, std::generic_category());
        if (status == MTP_BRIDGE_NOT_A_FILE)
            throw MTPError::notAFile(failureText(handle));
        if (status == MTP_BRIDGE_SIZE_MISMATCH) {
            // libmtp gave the size it read when the folder was first listed; a file edited on
            // the phone since then comes whole with its new size. A new session tells.
            const QString refusal = failureText(handle);
            const uint64_t received = handle->received_bytes;
            const auto now = infoOnNewSession(request, objectId);
            if (now && now->is_folder == 0 && now->size == received)
                return;
            ::unlink(path.constData());
            throw MTPError::downloadFailed(refusal);
        }
        if (status != 0)
            throw MTPError::downloadFailed(failureText(handle));
    });
}

QFuture<void> MTPClient::uploadFile(const QString& localPath, quint32 storageId, quint32 parentId,
                                    ProgressFn progress)
{
    return m_executor->run([session = m_session, storageId, parentId,
                            path = QFile::encodeName(localPath), progress = std::move(progress)] {
        Request request(*session);
        mtp_bridge_handle* handle = request.handle();
        const int32_t status =
            mtp_bridge_upload_file(handle, path.constData(), storageId, parentId,
                                   progressTrampoline, const_cast<ProgressFn*>(&progress));
        if (status == MTP_BRIDGE_NOT_A_FILE)
            throw MTPError::notAFile(failureText(handle));
        if (status == MTP_BRIDGE_SOURCE_CHANGED)
            throw MTPError::sourceChanged(failureText(handle));
        if (status == 0)
            return;
        const QString refusal = failureText(handle);
        const QString name = QFileInfo(QFile::decodeName(path)).fileName();
        if (request.lostSession() && handle->sent_object_id != 0 && handle->sent_whole != 0) {
            // The phone had every byte and its answer was lost: the object it made for this
            // upload, asked for on a new session, tells whether the file is there whole.
            const uint32_t objectId = handle->sent_object_id;
            const uint64_t size = handle->sent_size;
            const auto now = infoOnNewSession(request, objectId);
            if (now && now->is_folder == 0 && now->storage_id == storageId &&
                sameParent(now->parent_id, parentId) && text(now->name) == name &&
                now->size == size) {
                session->log.info(QStringLiteral("The answer to the upload of %1 was lost; the "
                                                 "phone holds the whole file"),
                                  {name});
                return;
            }
            throw MTPError::uploadFailed(refusal);
        }
        // A phone refuses a name its folder already holds, with no more than a general error.
        if (!request.lostSession() &&
            folderHolds(request.handle(), storageId, parentId, name, handle->sent_object_id))
            throw FileRepositoryError::itemAlreadyExists(name);
        throw MTPError::uploadFailed(refusal);
    });
}

QFuture<quint32> MTPClient::createFolder(const QString& name, quint32 storageId, quint32 parentId)
{
    return m_executor->run([session = m_session, name, storageId, parentId] {
        Request request(*session);
        const quint32 id = mtp_bridge_create_folder(request.handle(), storageId, parentId,
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
        Request request(*session);
        if (mtp_bridge_delete_object(request.handle(), objectId) != 0)
            throw MTPError::operationFailed(QStringLiteral("Delete failed for objectId ") +
                                            QString::number(objectId));
    });
}

QFuture<void> MTPClient::renameObject(quint32 objectId, const QString& newName)
{
    return m_executor->run([session = m_session, objectId, newName] {
        Request request(*session);
        if (mtp_bridge_rename_object(request.handle(), objectId, newName.toUtf8().constData()) != 0)
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
