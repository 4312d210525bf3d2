// The phone's object handles over its storage folders. Handles are assigned as folders are
// listed and stay stable while the phone lives (like Android's media database).
#pragma once

#include "emulated_phone.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qb {

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

    explicit PhoneObjects(std::vector<StorageLayout> storages);

    const std::vector<StorageLayout>& storages() const { return m_storages; }
    int storageIndex(uint32_t storageId) const; // -1 when unknown

    // The object behind `handle`, if it still exists on disk.
    std::optional<PhoneObject> find(uint32_t handle);
    // The object behind `handle`, whether or not its file exists yet (an announced upload).
    std::optional<PhoneObject> lookup(uint32_t handle) const;
    std::filesystem::path absolutePath(const PhoneObject& object) const;
    uint32_t parentOf(const PhoneObject& object); // 0 at the top level
    // Children of a folder (sorted by name), or the whole storage recursively.
    std::vector<uint32_t> list(int storage, const std::string& folder, bool recursive);
    uint32_t handleFor(int storage, const std::string& path);
    // Moves `object` (and, for a folder, everything below it) to a new relative path.
    void renamed(const PhoneObject& object, const std::string& newPath);
    void forget(const PhoneObject& object);

private:
    std::vector<StorageLayout> m_storages;
    std::map<uint32_t, PhoneObject> m_objects;
    std::map<std::pair<int, std::string>, uint32_t> m_handles;
    uint32_t m_next = 1;
};

} // namespace qb
