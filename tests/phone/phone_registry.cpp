#include "phone_registry.h"

#include <algorithm>
#include <cstdlib>

namespace qb {

PhoneRegistry& PhoneRegistry::instance()
{
    // Never destroyed: hosts may still call libusb while static objects are torn down.
    static PhoneRegistry* registry = new PhoneRegistry;
    return *registry;
}

PhoneRegistry::PhoneRegistry()
{
    // The stock mtp-tools cannot use the control API: they get a phone from the environment.
    const char* folder = std::getenv("QB_PHONE_FOLDER");
    if (!folder || !*folder)
        return;
    PhoneLayout layout;
    layout.storages.push_back({folder});
    if (const char* sd = std::getenv("QB_PHONE_SD_FOLDER"); sd && *sd)
        layout.storages.push_back({sd, "SD card", 32ull << 30, true});
    phones.push_back(std::make_shared<PhoneState>(std::move(layout)));
    plug(phones.back());
}

void PhoneRegistry::plug(const std::shared_ptr<PhoneState>& phone)
{
    if (phone->device)
        return;
    auto device = std::make_unique<libusb_device>();
    device->phone = phone;
    device->address = m_nextAddress;
    m_nextAddress = m_nextAddress >= 127 ? 2 : m_nextAddress + 1;
    phone->device = device.get();
    devices.push_back(std::move(device));
    postHotplug(phone->device, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
}

void PhoneRegistry::unplug(PhoneState& phone)
{
    libusb_device* device = phone.device;
    if (!device)
        return;
    device->attached = false;
    phone.device = nullptr;
    phone.claimedBy = nullptr;
    phone.bytesUntilDisconnect.reset();
    phone.responder.reset();
    postHotplug(device, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
}

libusb_context* PhoneRegistry::context(libusb_context* ctx)
{
    if (ctx)
        return ctx;
    if (!m_default) {
        contexts.push_back(std::make_unique<libusb_context>());
        m_default = contexts.back().get();
    }
    return m_default;
}

void PhoneRegistry::postHotplug(libusb_device* device, libusb_hotplug_event event)
{
    for (const auto& ctx : contexts) {
        if (!ctx->callbacks.empty())
            ctx->pendingHotplug.emplace_back(device, event);
    }
    eventsPending.notify_all();
}

} // namespace qb
