#include "core/device/mtp_device_lister.h"

#include "bridge/mtp_bridge.h"
#include "core/device/mtp_client.h"

#include <memory>

namespace qb {

std::optional<QList<ListedDevice>> MTPDeviceLister::listDevices()
{
    int32_t count = 0;
    const std::unique_ptr<mtp_bridge_device_info, decltype(&mtp_bridge_free)> records(
        mtp_bridge_list_devices(&count), &mtp_bridge_free);
    if (count < 0) {
        return std::nullopt;
    }
    QList<ListedDevice> devices;
    if (!records) {
        return devices;
    }
    devices.reserve(count);
    for (int32_t i = 0; i < count; ++i) {
        const MTPClient::DeviceInfo info = MTPClient::deviceInfo(records.get()[i]);
        devices.append(
            {info.id, info.friendlyName, info.manufacturer, info.model, info.serialNumber});
    }
    return devices;
}

} // namespace qb
