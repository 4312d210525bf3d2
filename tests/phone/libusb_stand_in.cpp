// The libusb-1.0 API over the emulated bus: what libmtp and our own USB layer call. Phones sit on
// bus 1 as Android devices in MTP mode (18d1:4ee2 by default) with one MTP interface (bulk IN 0x81,
// bulk OUT 0x01, interrupt IN 0x82).
#include "phone_registry.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

namespace qb {

PhoneRegistry& PhoneRegistry::instance()
{
    // Never destroyed: hosts may still call libusb while static objects are torn down.
    static PhoneRegistry* registry = new PhoneRegistry;
    return *registry;
}

PhoneRegistry::PhoneRegistry()
{
    // The stock mtp-tools and the application itself cannot use the control API: they get their
    // phones from the environment, one storage folder each, separated by ':'.
    const char* folders = std::getenv("QB_PHONE_FOLDER");
    if (!folders || !*folders)
        return;
    std::istringstream list(folders);
    for (std::string folder; std::getline(list, folder, ':');) {
        PhoneLayout layout;
        layout.serial = "QB000" + std::to_string(phones.size() + 1);
        layout.storages.push_back({folder});
        // "4ee1": a phone in plain MTP mode, whose object properties libmtp reads in lists.
        if (const char* product = std::getenv("QB_PHONE_PRODUCT"))
            layout.productId = uint16_t(std::strtoul(product, nullptr, 16));
        phones.push_back(std::make_shared<PhoneState>(std::move(layout)));
        if (const char* faults = std::getenv("QB_PHONE_FAULTS"))
            addFaults(phones.back()->responder, faults);
        // Bytes per second, so that a person can act on a transfer while it runs.
        if (const char* rate = std::getenv("QB_PHONE_RATE"))
            phones.back()->rateLimit = std::strtoull(rate, nullptr, 10);
        plug(phones.back());
    }
    // A person trying the application pulls and plugs phones by writing lines to this FIFO:
    // "unplug N", "plug N [device number]", "fail N <operation> <nth> <response>" (codes in
    // hexadecimal), "lose N <operation> <nth>" (carried out, its response lost), "timeout N
    // <bytes>", "stall N <bytes>" or "dropsession N" (N counts the folders from 1).
    const char* control = std::getenv("QB_PHONE_CONTROL");
    if (!control || !*control)
        return;
    std::thread([this, path = std::string(control)] {
        for (;;) {
            std::ifstream fifo(path);
            for (std::string line; std::getline(fifo, line);) {
                std::istringstream words(line);
                std::string verb;
                size_t number = 0;
                unsigned address = 0, operation = 0, response = 0;
                int nth = 0;
                uint64_t bytes = 0;
                words >> verb >> number;
                if (verb == "fail")
                    words >> std::hex >> operation >> std::dec >> nth >> std::hex >> response;
                else if (verb == "lose")
                    words >> std::hex >> operation >> std::dec >> nth;
                else if (verb == "timeout" || verb == "stall")
                    words >> bytes;
                else
                    words >> address;
                std::lock_guard lock(mutex);
                if (number < 1 || number > phones.size())
                    continue;
                if (verb == "unplug")
                    unplug(*phones[number - 1]);
                else if (verb == "plug")
                    plug(phones[number - 1], uint8_t(address));
                else if (verb == "fail")
                    phones[number - 1]->responder.addFault(MtpOperation(operation), nth, false,
                                                           MtpResponse(response));
                else if (verb == "lose")
                    phones[number - 1]->responder.loseResponse(MtpOperation(operation), nth);
                else if (verb == "timeout" || verb == "stall")
                    phones[number - 1]->readFault = PhoneState::ReadFault{bytes, verb == "stall"};
                else if (verb == "dropsession")
                    phones[number - 1]->responder.dropSession();
            }
            if (!fifo.is_open())
                return;
        }
    }).detach();
}

// "DeleteObject*2,GetObjectBytes=50000": see emulated_phone.h. Unknown entries are ignored.
void PhoneRegistry::addFaults(MtpResponder& responder, const std::string& text)
{
    static const std::pair<const char*, MtpOperation> operations[] = {
        {"GetObjectInfo", MtpOperation::GetObjectInfo},
        {"GetObject", MtpOperation::GetObject},
        {"DeleteObject", MtpOperation::DeleteObject},
        {"SendObjectInfo", MtpOperation::SendObjectInfo},
        {"SendObject", MtpOperation::SendObject},
        {"SetObjectPropValue", MtpOperation::SetObjectPropValue},
    };
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string entry = text.substr(start, end - start);
        start = end + 1;
        if (const size_t eq = entry.find('='); entry.substr(0, eq) == "GetObjectBytes") {
            responder.setObjectBytes(std::strtoull(entry.c_str() + eq + 1, nullptr, 10));
            continue;
        }
        const size_t star = entry.find('*');
        const int count = star == std::string::npos ? 0 : std::atoi(entry.c_str() + star + 1);
        for (const auto& [name, operation] : operations) {
            for (int nth = 1; entry.substr(0, star) == name && nth <= count; ++nth)
                responder.addFault(operation, nth, false, MtpResponse::GeneralError);
        }
    }
}

void PhoneRegistry::plug(const std::shared_ptr<PhoneState>& phone, uint8_t address)
{
    if (phone->device)
        return;
    auto device = std::make_unique<libusb_device>();
    device->phone = phone;
    if (address != 0) {
        device->address = address;
    } else {
        device->address = m_nextAddress;
        m_nextAddress = m_nextAddress >= 127 ? 2 : m_nextAddress + 1;
    }
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
    phone.inHalted = false;
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

using qb::PhoneRegistry;
using qb::PhoneState;

namespace {

using Lock = std::unique_lock<std::mutex>;

constexpr uint8_t kBulkIn = 0x81;
constexpr uint8_t kBulkOut = 0x01;
constexpr uint8_t kInterruptIn = 0x82;

// Positional, in libusb's field order: length, type, address, attributes, max packet, interval.
const libusb_endpoint_descriptor kEndpoints[3] = {
    {7, LIBUSB_DT_ENDPOINT, kBulkIn, LIBUSB_TRANSFER_TYPE_BULK, 512, 0, 0, 0, nullptr, 0},
    {7, LIBUSB_DT_ENDPOINT, kBulkOut, LIBUSB_TRANSFER_TYPE_BULK, 512, 0, 0, 0, nullptr, 0},
    {7, LIBUSB_DT_ENDPOINT, kInterruptIn, LIBUSB_TRANSFER_TYPE_INTERRUPT, 28, 6, 0, 0, nullptr, 0},
};
// Interface 0, vendor class 0xFF/0xFF/0x00, named by string 4 ("MTP"), three endpoints.
const libusb_interface_descriptor kMtpInterface = {
    9, LIBUSB_DT_INTERFACE, 0, 0, 3, LIBUSB_CLASS_VENDOR_SPEC, 0xFF, 0, 4, kEndpoints, nullptr, 0};
const libusb_interface kInterface = {&kMtpInterface, 1};
// Configuration 1, self-powered, 500 mA.
const libusb_config_descriptor kConfig = {9,   LIBUSB_DT_CONFIG, 9 + 9 + 3 * 7, 1, 1, 0, 0xC0,
                                          250, &kInterface,      nullptr,       0};

PhoneRegistry& bus()
{
    return PhoneRegistry::instance();
}

// The phone behind a handle while it is plugged in (mutex held).
PhoneState* attached(libusb_device_handle* handle)
{
    return handle && handle->device->attached ? handle->device->phone.get() : nullptr;
}

std::string stringDescriptor(const qb::PhoneLayout& layout, uint8_t index)
{
    const std::string strings[] = {"", layout.manufacturer, layout.model, layout.serial, "MTP"};
    return index < std::size(strings) ? strings[index] : "";
}

bool matches(const libusb_context::Callback& cb, libusb_device* device, libusb_hotplug_event event)
{
    const qb::PhoneLayout& layout = device->phone->responder.layout(); // immutable: no lock needed
    return (cb.events & event) &&
           (cb.vendorId == LIBUSB_HOTPLUG_MATCH_ANY || cb.vendorId == layout.vendorId) &&
           (cb.productId == LIBUSB_HOTPLUG_MATCH_ANY || cb.productId == layout.productId);
}

// The host's wait for an answer that never comes, scaled down (releases the lock).
int timeOut(Lock& lock, unsigned int timeout)
{
    const double ms = (timeout == 0 ? 60000.0 : double(timeout)) * bus().timeoutScale;
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::microseconds(int64_t(ms * 1000)));
    return LIBUSB_ERROR_TIMEOUT;
}

} // namespace

extern "C" {

int libusb_init(libusb_context** ctx)
{
    Lock lock(bus().mutex);
    if (ctx) {
        bus().contexts.push_back(std::make_unique<libusb_context>());
        *ctx = bus().contexts.back().get();
    } else {
        bus().context(nullptr);
    }
    return LIBUSB_SUCCESS;
}

void libusb_exit(libusb_context* ctx)
{
    Lock lock(bus().mutex);
    if (ctx)
        std::erase_if(bus().contexts, [ctx](const auto& c) { return c.get() == ctx; });
}

int libusb_set_option(libusb_context*, enum libusb_option, ...)
{
    return LIBUSB_SUCCESS;
}

int libusb_has_capability(uint32_t capability)
{
    return capability == LIBUSB_CAP_HAS_CAPABILITY || capability == LIBUSB_CAP_HAS_HOTPLUG;
}

// Only our hot-plug source asks, and only after a failure, which the emulated bus never has.
const char* libusb_error_name(int code)
{
    return code == LIBUSB_SUCCESS ? "LIBUSB_SUCCESS" : "LIBUSB_ERROR";
}

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list)
{
    Lock lock(bus().mutex);
    std::vector<libusb_device*> found;
    for (const auto& phone : bus().phones) {
        if (phone->device)
            found.push_back(phone->device);
    }
    auto* out = static_cast<libusb_device**>(std::calloc(found.size() + 1, sizeof(libusb_device*)));
    if (!out)
        return LIBUSB_ERROR_NO_MEM;
    std::copy(found.begin(), found.end(), out);
    *list = out;
    return ssize_t(found.size());
}

void libusb_free_device_list(libusb_device** list, int)
{
    std::free(list);
}

uint8_t libusb_get_bus_number(libusb_device*)
{
    return 1;
}

uint8_t libusb_get_device_address(libusb_device* device)
{
    return device->address;
}

int libusb_get_device_descriptor(libusb_device* device, libusb_device_descriptor* desc)
{
    // USB 2.0, class per interface, 64-byte control endpoint, strings 1-3, one configuration.
    const qb::PhoneLayout& l = device->phone->responder.layout();
    *desc = {18,         LIBUSB_DT_DEVICE, 0x0200, 0, 0, 0, 64,
             l.vendorId, l.productId,      0x0440, 1, 2, 3, 1};
    return LIBUSB_SUCCESS;
}

int libusb_get_config_descriptor(libusb_device*, uint8_t index, libusb_config_descriptor** config)
{
    if (index != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    *config = const_cast<libusb_config_descriptor*>(&kConfig); // shared and never freed
    return LIBUSB_SUCCESS;
}

int libusb_get_active_config_descriptor(libusb_device* device, libusb_config_descriptor** config)
{
    return libusb_get_config_descriptor(device, 0, config);
}

void libusb_free_config_descriptor(libusb_config_descriptor*) {}

int libusb_open(libusb_device* device, libusb_device_handle** handle)
{
    Lock lock(bus().mutex);
    if (!device->attached)
        return LIBUSB_ERROR_NO_DEVICE;
    bus().handles.push_back(std::make_unique<libusb_device_handle>(libusb_device_handle{device}));
    *handle = bus().handles.back().get();
    return LIBUSB_SUCCESS;
}

void libusb_close(libusb_device_handle* handle)
{
    Lock lock(bus().mutex);
    if (handle->device->phone->claimedBy == handle)
        handle->device->phone->claimedBy = nullptr;
    std::erase_if(bus().handles, [handle](const auto& h) { return h.get() == handle; });
}

libusb_device* libusb_get_device(libusb_device_handle* handle)
{
    return handle->device;
}

int libusb_set_configuration(libusb_device_handle* handle, int)
{
    Lock lock(bus().mutex);
    return attached(handle) ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_DEVICE;
}

int libusb_claim_interface(libusb_device_handle* handle, int interface)
{
    Lock lock(bus().mutex);
    PhoneState* phone = attached(handle);
    if (!phone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (interface != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    if (phone->interfaceBusy || (phone->claimedBy && phone->claimedBy != handle))
        return LIBUSB_ERROR_BUSY;
    phone->claimedBy = handle;
    return LIBUSB_SUCCESS;
}

int libusb_release_interface(libusb_device_handle* handle, int)
{
    Lock lock(bus().mutex);
    PhoneState* phone = attached(handle);
    if (!phone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (phone->claimedBy != handle)
        return LIBUSB_ERROR_NOT_FOUND;
    phone->claimedBy = nullptr;
    return LIBUSB_SUCCESS;
}

int libusb_clear_halt(libusb_device_handle* handle, unsigned char endpoint)
{
    Lock lock(bus().mutex);
    PhoneState* phone = attached(handle);
    if (!phone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (endpoint == kBulkIn)
        phone->inHalted = false;
    return LIBUSB_SUCCESS;
}

int libusb_reset_device(libusb_device_handle* handle)
{
    Lock lock(bus().mutex);
    PhoneState* phone = attached(handle);
    if (!phone)
        return LIBUSB_ERROR_NO_DEVICE;
    phone->responder.reset();
    phone->inHalted = false;
    return LIBUSB_SUCCESS;
}

int libusb_kernel_driver_active(libusb_device_handle* handle, int)
{
    Lock lock(bus().mutex);
    return attached(handle) ? 0 : LIBUSB_ERROR_NO_DEVICE;
}

int libusb_detach_kernel_driver(libusb_device_handle* handle, int)
{
    Lock lock(bus().mutex);
    return attached(handle) ? LIBUSB_ERROR_NOT_FOUND : LIBUSB_ERROR_NO_DEVICE;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                       unsigned char* data, int length)
{
    if (index == 0 || length < 1)
        return LIBUSB_ERROR_INVALID_PARAM;
    {
        // A handle from before an unplug stays dead, whatever was plugged in since.
        Lock lock(bus().mutex);
        if (!attached(handle))
            return LIBUSB_ERROR_NO_DEVICE;
    }
    const std::string text = stringDescriptor(handle->device->phone->responder.layout(), index);
    if (text.empty())
        return LIBUSB_ERROR_PIPE;
    const size_t n = std::min(text.size(), size_t(length - 1));
    std::memcpy(data, text.data(), n);
    data[n] = 0;
    return int(n);
}

// Endpoint 0: GET_STATUS and the PTP class requests (cancel, reset, device status).
int libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request,
                            uint16_t, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int)
{
    Lock lock(bus().mutex);
    PhoneState* phone = attached(handle);
    if (!phone)
        return LIBUSB_ERROR_NO_DEVICE;
    std::vector<uint8_t> reply;
    const int type = requestType & 0x60;
    if (type == LIBUSB_REQUEST_TYPE_STANDARD && request == LIBUSB_REQUEST_GET_STATUS) {
        // An endpoint's status tells whether it is halted.
        const bool halted = (requestType & 0x1F) == LIBUSB_RECIPIENT_ENDPOINT && index == kBulkIn &&
                            phone->inHalted;
        reply = {uint8_t(halted ? 1 : 0), 0};
    } else if (type == LIBUSB_REQUEST_TYPE_CLASS && (request == 0x64 || request == 0x66)) {
        phone->responder.cancelTransaction();
        return request == 0x64 ? length : 0;
    } else if (type == LIBUSB_REQUEST_TYPE_CLASS && request == 0x67) {
        reply = {4, 0, 0x01, 0x20}; // status OK
    } else {
        return LIBUSB_ERROR_PIPE;
    }
    const size_t n = std::min(reply.size(), size_t(length));
    std::memcpy(data, reply.data(), n);
    return int(n);
}

int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                         int length, int* transferred, unsigned int timeout)
{
    if (transferred)
        *transferred = 0;
    Lock lock(bus().mutex);
    PhoneState* phone = attached(handle);
    if (!phone)
        return LIBUSB_ERROR_NO_DEVICE;
    std::optional<size_t> moved;
    if (endpoint == kBulkOut) {
        phone->responder.bulkOut(data, size_t(length));
        moved = size_t(length);
    } else if (endpoint == kBulkIn) {
        if (phone->inHalted)
            return LIBUSB_ERROR_PIPE;
        const auto end = phone->responder.dataReadEnd(size_t(length));
        if (phone->readFault && end && *end > phone->readFault->bytes) {
            // Nothing of this read is taken: the phone keeps the rest for whoever reads next.
            phone->responder.holdUnread();
            const bool stall = std::exchange(phone->readFault, std::nullopt)->stall;
            if (stall) {
                phone->inHalted = true;
                return LIBUSB_ERROR_PIPE;
            }
            return timeOut(lock, timeout);
        }
        moved = phone->responder.bulkIn(data, size_t(length));
        // A pulled cable takes the whole transfer that would cross the limit with it.
        if (moved && phone->bytesUntilDisconnect && *moved > *phone->bytesUntilDisconnect) {
            bus().unplug(*phone);
            return LIBUSB_ERROR_NO_DEVICE;
        }
        if (moved && phone->bytesUntilDisconnect)
            *phone->bytesUntilDisconnect -= *moved;
    } else if (endpoint != kInterruptIn) { // the phone sends no events
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (!moved)
        return timeOut(lock, timeout);
    const uint64_t rate = phone->rateLimit;
    lock.unlock();
    if (rate > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(*moved * 1000000 / rate));
    if (transferred)
        *transferred = int(*moved);
    return LIBUSB_SUCCESS;
}

struct libusb_transfer* libusb_alloc_transfer(int isoPackets)
{
    return static_cast<libusb_transfer*>(std::calloc(
        1, sizeof(libusb_transfer) + size_t(isoPackets) * sizeof(libusb_iso_packet_descriptor)));
}

// Asynchronous transfers would only carry events, which the phone never sends.
int libusb_submit_transfer(struct libusb_transfer*)
{
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_hotplug_register_callback(libusb_context* ctx, int events, int flags, int vendorId,
                                     int productId, int deviceClass, libusb_hotplug_callback_fn fn,
                                     void* userData, libusb_hotplug_callback_handle* handle)
{
    static libusb_hotplug_callback_handle nextHandle = 1;
    Lock lock(bus().mutex);
    libusb_context* c = bus().context(ctx);
    // The phones have class 0 (per interface): a filter on another class never matches.
    const int matchEvents =
        deviceClass == LIBUSB_HOTPLUG_MATCH_ANY || deviceClass == 0 ? events : 0;
    const libusb_context::Callback cb{nextHandle++, matchEvents, vendorId, productId, fn, userData};
    c->callbacks.push_back(cb);
    if (handle)
        *handle = cb.handle;
    std::vector<libusb_device*> present;
    if (flags & LIBUSB_HOTPLUG_ENUMERATE) {
        for (const auto& phone : bus().phones) {
            if (phone->device && matches(cb, phone->device, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED))
                present.push_back(phone->device);
        }
    }
    lock.unlock();
    for (libusb_device* device : present) {
        if (fn(c, device, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, userData)) {
            libusb_hotplug_deregister_callback(c, cb.handle);
            break;
        }
    }
    return LIBUSB_SUCCESS;
}

void libusb_hotplug_deregister_callback(libusb_context* ctx, libusb_hotplug_callback_handle handle)
{
    Lock lock(bus().mutex);
    libusb_context* c = bus().context(ctx);
    std::erase_if(c->callbacks, [handle](const auto& cb) { return cb.handle == handle; });
    c->interrupted = true; // like libusb, wake the event handler
    bus().eventsPending.notify_all();
}

int libusb_handle_events_timeout_completed(libusb_context* ctx, struct timeval* tv, int* completed)
{
    Lock lock(bus().mutex);
    libusb_context* c = bus().context(ctx);
    if (completed && *completed)
        return LIBUSB_SUCCESS;
    const auto wait = tv ? std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec)
                         : std::chrono::microseconds(std::chrono::seconds(60));
    bus().eventsPending.wait_for(lock, wait,
                                 [&] { return !c->pendingHotplug.empty() || c->interrupted; });
    c->interrupted = false;
    const auto events = std::exchange(c->pendingHotplug, {});
    const auto callbacks = c->callbacks;
    lock.unlock();
    for (const auto& [device, event] : events) {
        for (const auto& cb : callbacks) {
            if (matches(cb, device, event) && cb.function(c, device, event, cb.userData))
                libusb_hotplug_deregister_callback(c, cb.handle);
        }
    }
    return LIBUSB_SUCCESS;
}

} // extern "C"
