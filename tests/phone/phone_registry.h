// Process-wide state of the emulated USB bus, shared by the stand-in libusb and the control API.
// It lives in the stand-in shared library, so there is exactly one per process; one mutex guards
// it all. Hot-plug callbacks into the host run with the mutex released.
#pragma once

#include "mtp_responder.h"

#include <libusb-1.0/libusb.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qb {

struct PhoneState
{
    explicit PhoneState(PhoneLayout layout) : responder(std::move(layout)) {}
    MtpResponder responder;
    libusb_device* device = nullptr; // the current plug; null while unplugged
    libusb_device_handle* claimedBy = nullptr;
    std::optional<uint64_t> bytesUntilDisconnect;
    // Armed for the next device-to-host data phase: the bulk IN read that would take it past
    // `bytes` times out, or halts the endpoint.
    struct ReadFault
    {
        uint64_t bytes;
        bool stall;
    };
    std::optional<ReadFault> readFault;
    bool inHalted = false;  // bulk IN fails with LIBUSB_ERROR_PIPE until its halt is cleared
    uint64_t rateLimit = 0; // bytes per second; 0 for none
    bool interfaceBusy = false;
};

} // namespace qb

// libusb's opaque types, defined here for the stand-in.
struct libusb_device
{
    std::shared_ptr<qb::PhoneState> phone;
    uint8_t address = 0;
    bool attached = true; // false once unplugged; the object itself lives on
};

struct libusb_device_handle
{
    libusb_device* device = nullptr;
};

struct libusb_context
{
    struct Callback
    {
        libusb_hotplug_callback_handle handle;
        int events;
        int vendorId;
        int productId;
        libusb_hotplug_callback_fn function;
        void* userData;
    };
    std::vector<Callback> callbacks;
    std::deque<std::pair<libusb_device*, libusb_hotplug_event>> pendingHotplug;
    bool interrupted = false;
};

namespace qb {

class PhoneRegistry
{
public:
    static PhoneRegistry& instance();

    std::mutex mutex;
    std::condition_variable eventsPending;
    std::vector<std::shared_ptr<PhoneState>> phones;
    std::vector<std::unique_ptr<libusb_device>> devices; // every plug ever: hosts keep pointers
    std::vector<std::unique_ptr<libusb_context>> contexts;
    std::vector<std::unique_ptr<libusb_device_handle>> handles; // open ones, as libusb keeps them
    double timeoutScale = 0.001;

    // With the mutex held:
    void plug(const std::shared_ptr<PhoneState>& phone, uint8_t address = 0); // 0: the next
    void unplug(PhoneState& phone);
    libusb_context* context(libusb_context* ctx); // null means the default context

private:
    PhoneRegistry();
    void postHotplug(libusb_device* device, libusb_hotplug_event event);
    static void addFaults(MtpResponder& responder, const std::string& text);
    uint8_t m_nextAddress = 2;
    libusb_context* m_default = nullptr;
};

} // namespace qb
