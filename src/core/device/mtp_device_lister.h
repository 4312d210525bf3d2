#pragma once

#include "core/device/device_lister.h"

namespace qb {

// Lists the bus through the bridge. Unlike MTPClient::listDevices(), it tells a failed detection
// from an empty bus, so the device manager does not take a failure for every phone leaving.
class MTPDeviceLister : public DeviceLister
{
public:
    std::optional<QList<ListedDevice>> listDevices() override;
};

} // namespace qb
