// The phone's MTP responder: containers in from the bulk OUT pipe, containers out to bulk IN,
// with Android's semantics and USB framing. File data streams between the pipes and the storage
// folders in blocks; no file is ever held in memory. Not thread-safe (the registry locks it).
#pragma once

#include "emulated_phone.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qb {

namespace fs = std::filesystem;

// The phone's object handles over its storage folders. Handles are assigned as folders are
// listed and stay stable while the phone lives (like Android's media database).
struct PhoneObject
{
    uint32_t handle = 0;
    int storage = 0;  // index into the phone's storages
    std::string path; // relative to the storage folder, '/'-separated
};

class PhoneObjects
{
public:
    static constexpr uint32_t kTopLevel = 0xFFFFFFFF; // GetObjectHandles parent: top folder
    static constexpr uint32_t kWholeStorage = 0;      // GetObjectHandles parent: every object

    explicit PhoneObjects(std::vector<StorageLayout> storages) : m_storages(std::move(storages)) {}

    int storageIndex(uint32_t id) const // -1 when unknown
    {
        return (id & 0xFFFF) == 1 && id >> 16 >= 1 && id >> 16 <= m_storages.size()
                   ? int(id >> 16) - 1
                   : -1;
    }

    // The object behind `handle`, if it still exists on disk.
    std::optional<PhoneObject> find(uint32_t handle)
    {
        const auto it = m_objects.find(handle);
        if (it == m_objects.end())
            return std::nullopt;
        std::error_code error;
        if (!fs::exists(fs::symlink_status(absolutePath(it->second), error))) {
            const PhoneObject gone = it->second;
            moved(gone, std::nullopt);
            return std::nullopt;
        }
        return it->second;
    }
    // The object behind `handle`, whether or not its file exists yet (an announced upload).
    std::optional<PhoneObject> lookup(uint32_t handle) const
    {
        return m_objects.contains(handle) ? std::optional(m_objects.at(handle)) : std::nullopt;
    }
    fs::path absolutePath(const PhoneObject& object) const
    {
        return m_storages[size_t(object.storage)].folder / fs::path(object.path);
    }
    uint32_t parentOf(const PhoneObject& object)
    {
        const size_t slash = object.path.rfind('/');
        return slash == std::string::npos ? 0
                                          : handleFor(object.storage, object.path.substr(0, slash));
    }
    // Children of a folder (sorted by name), or the whole storage recursively.
    std::vector<uint32_t> list(int storage, const std::string& folder, bool recursive)
    {
        const fs::path base = m_storages[size_t(storage)].folder;
        std::vector<std::string> names;
        std::error_code error;
        for (const fs::directory_entry& entry :
             fs::directory_iterator(folder.empty() ? base : base / fs::path(folder), error))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());

        std::vector<uint32_t> handles;
        for (const std::string& name : names) {
            const std::string path = folder.empty() ? name : folder + "/" + name;
            handles.push_back(handleFor(storage, path));
            if (recursive && fs::is_directory(base / fs::path(path), error)) {
                const std::vector<uint32_t> below = list(storage, path, true);
                handles.insert(handles.end(), below.begin(), below.end());
            }
        }
        return handles;
    }
    uint32_t handleFor(int storage, const std::string& path)
    {
        const auto [it, added] = m_handles.try_emplace({storage, path}, m_next);
        if (added) {
            m_objects[m_next] = PhoneObject{m_next, storage, path};
            ++m_next;
        }
        return it->second;
    }
    // Moves `object` (and, for a folder, everything below it) to a new relative path, or forgets
    // it with none.
    void moved(const PhoneObject& object, const std::optional<std::string>& newPath)
    {
        const std::string prefix = object.path + "/";
        for (auto it = m_objects.begin(); it != m_objects.end();) {
            PhoneObject& other = it->second;
            if (other.storage != object.storage ||
                (other.path != object.path && other.path.rfind(prefix, 0) != 0)) {
                ++it;
                continue;
            }
            m_handles.erase({other.storage, other.path});
            if (!newPath) {
                it = m_objects.erase(it);
                continue;
            }
            other.path = *newPath + other.path.substr(object.path.size());
            m_handles[{other.storage, other.path}] = (it++)->first;
        }
    }

private:
    std::vector<StorageLayout> m_storages;
    std::map<uint32_t, PhoneObject> m_objects;
    std::map<std::pair<int, std::string>, uint32_t> m_handles;
    uint32_t m_next = 1;
};

class MtpResponder
{
public:
    static constexpr size_t kPacketSize = 512; // bulk wMaxPacketSize (USB 2 high speed)

    explicit MtpResponder(PhoneLayout layout);
    ~MtpResponder();

    const PhoneLayout& layout() const { return m_layout; }

    // One host-to-device bulk transfer. A transfer that is not a whole number of packets (or
    // is empty) ends the container, as a short packet does on the wire.
    void bulkOut(const uint8_t* data, size_t size);
    // One device-to-host bulk transfer of up to `size` bytes; nullopt when the phone has nothing
    // to send (the host's read then times out).
    std::optional<size_t> bulkIn(uint8_t* data, size_t size);

    void cancelTransaction(); // PTP class request "cancel": drops the current transfer
    void reset();             // USB reset or unplug: session closed, transfers dropped
    void dropSession();       // as after a long idle: SessionNotOpen until the next OpenSession

    // Where a bulk IN read of `size` bytes would end within the device-to-host data container
    // being sent (bytes from its start, header included); nullopt when none is being sent.
    std::optional<uint64_t> dataReadEnd(size_t size) const;
    // The host stopped reading: what it left unread stays ahead of the answers to its next
    // commands, as a phone still blocked writing it would send it, until drained or reset.
    void holdUnread() { m_holdUnread = !m_outgoing.empty(); }

    void addFault(MtpOperation operation, int nth, bool hang, MtpResponse response)
    {
        m_faults.push_back({uint16_t(operation), nth, hang, response});
    }
    // The nth operation is carried out whole, but its response never comes: the host times out.
    void loseResponse(MtpOperation operation, int nth)
    {
        m_faults.push_back({uint16_t(operation), nth, false, MtpResponse::None, true});
    }
    void setObjectBytes(std::optional<uint64_t> bytes) { m_objectBytes = bytes; }
    const std::vector<MtpOperation>& trace() const { return m_trace; }
    void setKeepBrokenUploads(bool keep) { m_keepBrokenUploads = keep; }

    struct Command;
    struct Reply;
    struct Outgoing;
    struct Incoming;

private:
    struct Fault
    {
        uint16_t operation;
        int remaining;
        bool hang;
        MtpResponse response;
        bool loseResponse = false;
    };

    void onCommand(const Command& command);
    void onDataEnd();
    void queue(const Command& command, Reply reply);
    void dropPendingUpload();
    std::optional<Fault> takeFault(uint16_t operation);

    // Host data (SendObjectInfo, SetObjectPropValue) comes as `data`.
    Reply dispatch(const Command& command, const std::vector<uint8_t>& data = {});
    Reply deviceInfo() const;
    Reply storageInfo(const Command& command) const;
    Reply objectHandles(const Command& command);
    Reply objectData(const Command& command);
    Reply deleteObject(const Command& command);
    Reply sendObjectInfo(const Command& command, const std::vector<uint8_t>& data);
    Reply setObjectName(const Command& command, const std::vector<uint8_t>& data);

    PhoneLayout m_layout;
    PhoneObjects m_objects;
    bool m_sessionOpen = false;
    std::vector<uint8_t> m_commandBytes;
    std::unique_ptr<Incoming> m_incoming;
    std::vector<Outgoing> m_outgoing; // containers not yet read by the host
    bool m_holdUnread = false;        // a new command keeps m_outgoing
    bool m_dropResponse = false;      // the next response is lost
    struct PendingSend
    {
        uint32_t handle;
        uint32_t size; // 0xFFFFFFFF: 4 GiB or more, unknown
    };
    std::optional<PendingSend> m_pendingSend; // announced by SendObjectInfo
    bool m_keepBrokenUploads = false;         // what some phones do, unlike Android

    std::vector<Fault> m_faults;
    std::optional<uint64_t> m_objectBytes; // what GetObject sends, whatever the file's size
    std::vector<MtpOperation> m_trace;     // every command, in order
};

} // namespace qb
