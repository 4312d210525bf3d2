#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace qb {

// One MTP device found on the USB bus, as the bridge describes it.
struct ListedDevice
{
    QString id;
    QString friendlyName;
    QString manufacturer;
    QString model;
    QString serialNumber;
};

// Lists the MTP devices on the USB bus without opening any. Blocking; called off the GUI thread,
// never concurrently by the device manager.
class DeviceLister
{
public:
    virtual ~DeviceLister() = default;
    // The devices in the bus's order; an empty list when none is attached; std::nullopt when the
    // bus could not be read at all (which says nothing about which devices are attached).
    virtual std::optional<QList<ListedDevice>> listDevices() = 0;
};

} // namespace qb
