#include "phone_objects.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace qb {

PhoneObjects::PhoneObjects(std::vector<StorageLayout> storages) : m_storages(std::move(storages)) {}

int PhoneObjects::storageIndex(uint32_t storageId) const
{
    for (size_t i = 0; i < m_storages.size(); ++i) {
        if (EmulatedPhone::storageId(int(i)) == storageId)
            return int(i);
    }
    return -1;
}

std::optional<PhoneObject> PhoneObjects::find(uint32_t handle)
{
    const auto it = m_objects.find(handle);
    if (it == m_objects.end())
        return std::nullopt;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(absolutePath(it->second), error))) {
        const PhoneObject gone = it->second;
        forget(gone);
        return std::nullopt;
    }
    return it->second;
}

std::optional<PhoneObject> PhoneObjects::lookup(uint32_t handle) const
{
    const auto it = m_objects.find(handle);
    return it == m_objects.end() ? std::nullopt : std::optional<PhoneObject>(it->second);
}

fs::path PhoneObjects::absolutePath(const PhoneObject& object) const
{
    return m_storages[size_t(object.storage)].folder / fs::path(object.path);
}

uint32_t PhoneObjects::parentOf(const PhoneObject& object)
{
    const size_t slash = object.path.rfind('/');
    return slash == std::string::npos ? 0 : handleFor(object.storage, object.path.substr(0, slash));
}

std::vector<uint32_t> PhoneObjects::list(int storage, const std::string& folder, bool recursive)
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

uint32_t PhoneObjects::handleFor(int storage, const std::string& path)
{
    const auto [it, added] = m_handles.try_emplace({storage, path}, m_next);
    if (added) {
        m_objects[m_next] = PhoneObject{m_next, storage, path};
        ++m_next;
    }
    return it->second;
}

void PhoneObjects::renamed(const PhoneObject& object, const std::string& newPath)
{
    const std::string prefix = object.path + "/";
    for (auto& [handle, other] : m_objects) {
        if (other.storage != object.storage)
            continue;
        if (other.path == object.path || other.path.rfind(prefix, 0) == 0) {
            m_handles.erase({other.storage, other.path});
            other.path = newPath + other.path.substr(object.path.size());
            m_handles[{other.storage, other.path}] = handle;
        }
    }
}

void PhoneObjects::forget(const PhoneObject& object)
{
    const std::string prefix = object.path + "/";
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        const PhoneObject& other = it->second;
        if (other.storage == object.storage &&
            (other.path == object.path || other.path.rfind(prefix, 0) == 0)) {
            m_handles.erase({other.storage, other.path});
            it = m_objects.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace qb
