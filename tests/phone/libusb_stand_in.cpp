// The libusb-1.0 API over the emulated bus: what libmtp and our own USB layer call. Phones sit on
// bus 1 as Android devices in MTP mode (18d1:4ee2 by default) with one MTP interface (bulk IN 0x81,
// bulk OUT 0x01, interrupt IN 0x82).
#include "phone_registry.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

using qb::PhoneRegistry;
using qb::PhoneState;

namespace {

using Lock = std::unique_lock<std::mutex>;

constexpr uint8_t kBulkIn = 0x81;
constexpr uint8_t kBulkOut = 0x01;
constexpr uint8_t kInterruptIn = 0x82;

const libusb_endpoint_descriptor kEndpoints[3] = {
    {.bLength = 7,
     .bDescriptorType = LIBUSB_DT_ENDPOINT,
     .bEndpointAddress = kBulkIn,
     .bmAttributes = LIBUSB_TRANSFER_TYPE_BULK,
     .wMaxPacketSize = 512},
    {.bLength = 7,
     .bDescriptorType = LIBUSB_DT_ENDPOINT,
     .bEndpointAddress = kBulkOut,
     .bmAttributes = LIBUSB_TRANSFER_TYPE_BULK,
     .wMaxPacketSize = 512},
    {.bLength = 7,
     .bDescriptorType = LIBUSB_DT_ENDPOINT,
     .bEndpointAddress = kInterruptIn,
     .bmAttributes = LIBUSB_TRANSFER_TYPE_INTERRUPT,
     .wMaxPacketSize = 28,
     .bInterval = 6},
};
const libusb_interface_descriptor kMtpInterface = {.bLength = 9,
                                                   .bDescriptorType = LIBUSB_DT_INTERFACE,
                                                   .bNumEndpoints = 3,
                                                   .bInterfaceClass = LIBUSB_CLASS_VENDOR_SPEC,
                                                   .bInterfaceSubClass = 0xFF,
                                                   .iInterface = 4,
                                                   .endpoint = kEndpoints};
const libusb_interface kInterfaces[1] = {{.altsetting = &kMtpInterface, .num_altsetting = 1}};
const libusb_config_descriptor kConfig = {.bLength = 9,
                                          .bDescriptorType = LIBUSB_DT_CONFIG,
                                          .wTotalLength = 9 + 9 + 3 * 7,
                                          .bNumInterfaces = 1,
                                          .bConfigurationValue = 1,
                                          .bmAttributes = 0xC0,
                                          .MaxPower = 250,
                                          .interface = kInterfaces};

PhoneRegistry& bus()
{
    return PhoneRegistry::instance();
}

// The phone behind a handle while it is plugged in (mutex held).
PhoneState* attached(libusb_device_handle* handle)
{
    return handle && handle->device->attached ? handle->device->phone.get() : nullptr;
}

std::string stringDescriptor(const qb::PhoneSpec& spec, uint8_t index)
{
    switch (index) {
    case 1:
        return spec.manufacturer;
    case 2:
        return spec.model;
    case 3:
        return spec.serial;
    case 4:
        return "MTP";
    default:
        return {};
    }
}

libusb_device_descriptor deviceDescriptor(const qb::PhoneSpec& spec)
{
    return {.bLength = 18,
            .bDescriptorType = LIBUSB_DT_DEVICE,
            .bcdUSB = 0x0200,
            .bMaxPacketSize0 = 64,
            .idVendor = spec.vendorId,
            .idProduct = spec.productId,
            .bcdDevice = 0x0440,
            .iManufacturer = 1,
            .iProduct = 2,
            .iSerialNumber = 3,
            .bNumConfigurations = 1};
}

void waitTimeout(unsigned int timeoutMs, double scale)
{
    const double ms = (timeoutMs == 0 ? 60000.0 : double(timeoutMs)) * scale;
    std::this_thread::sleep_for(std::chrono::microseconds(int64_t(ms * 1000)));
}

bool matches(const libusb_context::Callback& cb, libusb_device* device, libusb_hotplug_event event)
{
    const qb::PhoneSpec& spec = device->phone->responder.spec(); // immutable: no lock needed
    return (cb.events & event) &&
           (cb.vendorId == LIBUSB_HOTPLUG_MATCH_ANY || cb.vendorId == spec.vendorId) &&
           (cb.productId == LIBUSB_HOTPLUG_MATCH_ANY || cb.productId == spec.productId);
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

void libusb_set_debug(libusb_context*, int) {}

int libusb_has_capability(uint32_t capability)
{
    return capability == LIBUSB_CAP_HAS_CAPABILITY || capability == LIBUSB_CAP_HAS_HOTPLUG;
}

const struct libusb_version* libusb_get_version(void)
{
    static const libusb_version version = {1, 0, 26, 11724, "", "emulated phone bus"};
    return &version;
}

const char* libusb_error_name(int code)
{
    switch (code) {
    case LIBUSB_SUCCESS:
        return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO:
        return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
        return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
        return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
        return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
        return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
        return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_PIPE:
        return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED:
        return "LIBUSB_ERROR_INTERRUPTED";
    default:
        return "LIBUSB_ERROR_OTHER";
    }
}

const char* libusb_strerror(int code)
{
    return libusb_error_name(code);
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

// Devices live as long as the process, so reference counts need not be kept.
libusb_device* libusb_ref_device(libusb_device* device)
{
    return device;
}

void libusb_unref_device(libusb_device*) {}

uint8_t libusb_get_bus_number(libusb_device*)
{
    return 1;
}

uint8_t libusb_get_port_number(libusb_device*)
{
    return 1;
}

int libusb_get_port_numbers(libusb_device*, uint8_t* ports, int length)
{
    if (length < 1)
        return LIBUSB_ERROR_OVERFLOW;
    ports[0] = 1;
    return 1;
}

uint8_t libusb_get_device_address(libusb_device* device)
{
    return device->address;
}

int libusb_get_device_speed(libusb_device*)
{
    return LIBUSB_SPEED_HIGH;
}

int libusb_get_max_packet_size(libusb_device*, unsigned char endpoint)
{
    return endpoint == kInterruptIn ? 28 : 512;
}

int libusb_get_device_descriptor(libusb_device* device, libusb_device_descriptor* desc)
{
    *desc = deviceDescriptor(device->phone->responder.spec());
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

libusb_device_handle* libusb_open_device_with_vid_pid(libusb_context* ctx, uint16_t vendorId,
                                                      uint16_t productId)
{
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    libusb_device_handle* handle = nullptr;
    for (ssize_t i = 0; i < n && !handle; ++i) {
        const qb::PhoneSpec& spec = list[i]->phone->responder.spec();
        if (spec.vendorId == vendorId && spec.productId == productId)
            libusb_open(list[i], &handle);
    }
    libusb_free_device_list(list, 1);
    return handle;
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

int libusb_get_configuration(libusb_device_handle*, int* config)
{
    *config = 1;
    return LIBUSB_SUCCESS;
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

int libusb_set_interface_alt_setting(libusb_device_handle* handle, int, int)
{
    return libusb_set_configuration(handle, 1);
}

int libusb_clear_halt(libusb_device_handle* handle, unsigned char)
{
    return libusb_set_configuration(handle, 1);
}

int libusb_reset_device(libusb_device_handle* handle)
{
    Lock lock(bus().mutex);
    PhoneState* phone = attached(handle);
    if (!phone)
        return LIBUSB_ERROR_NO_DEVICE;
    phone->responder.reset();
    return LIBUSB_SUCCESS;
}

int libusb_kernel_driver_active(libusb_device_handle*, int)
{
    return 0;
}

int libusb_detach_kernel_driver(libusb_device_handle*, int)
{
    return LIBUSB_ERROR_NOT_FOUND;
}

int libusb_attach_kernel_driver(libusb_device_handle*, int)
{
    return LIBUSB_ERROR_NOT_FOUND;
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int)
{
    return LIBUSB_SUCCESS;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                       unsigned char* data, int length)
{
    if (index == 0 || length < 1)
        return LIBUSB_ERROR_INVALID_PARAM;
    const std::string text = stringDescriptor(handle->device->phone->responder.spec(), index);
    if (text.empty())
        return LIBUSB_ERROR_PIPE;
    const size_t n = std::min(text.size(), size_t(length - 1));
    std::memcpy(data, text.data(), n);
    data[n] = 0;
    return int(n);
}

int libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t, unsigned char* data, uint16_t length,
                            unsigned int)
{
    Lock lock(bus().mutex);
    PhoneState* phone = attached(handle);
    if (!phone)
        return LIBUSB_ERROR_NO_DEVICE;
    std::vector<uint8_t> reply;
    switch (requestType & 0x60) {
    case LIBUSB_REQUEST_TYPE_STANDARD:
        if (request == LIBUSB_REQUEST_GET_STATUS) {
            reply = {0, 0};
        } else if (request == LIBUSB_REQUEST_GET_DESCRIPTOR && (value >> 8) == LIBUSB_DT_DEVICE) {
            const libusb_device_descriptor d = deviceDescriptor(phone->responder.spec());
            reply = {18,
                     LIBUSB_DT_DEVICE,
                     0x00,
                     0x02,
                     0,
                     0,
                     0,
                     64,
                     uint8_t(d.idVendor),
                     uint8_t(d.idVendor >> 8),
                     uint8_t(d.idProduct),
                     uint8_t(d.idProduct >> 8),
                     0x40,
                     0x04,
                     1,
                     2,
                     3,
                     1};
        } else if (request == LIBUSB_REQUEST_GET_DESCRIPTOR && (value >> 8) == LIBUSB_DT_STRING) {
            if ((value & 0xFF) == 0) {
                reply = {4, LIBUSB_DT_STRING, 0x09, 0x04}; // US English
            } else {
                const std::string text = stringDescriptor(phone->responder.spec(), value & 0xFF);
                if (text.empty())
                    return LIBUSB_ERROR_PIPE;
                reply = {uint8_t(2 + 2 * text.size()), LIBUSB_DT_STRING};
                for (char c : text)
                    reply.insert(reply.end(), {uint8_t(c), 0});
            }
        } else if (request == LIBUSB_REQUEST_GET_DESCRIPTOR) {
            return LIBUSB_ERROR_PIPE;
        }
        break;
    case LIBUSB_REQUEST_TYPE_CLASS:
        if (request == 0x64 || request == 0x66) // cancel transaction, device reset
            phone->responder.cancelTransaction();
        else if (request == 0x67) // device status: OK
            reply = {4, 0, 0x01, 0x20};
        else
            return LIBUSB_ERROR_PIPE;
        if (request == 0x64)
            return length;
        break;
    default:
        return LIBUSB_ERROR_PIPE;
    }
    const size_t n = std::min(reply.size(), size_t(length));
    if (n > 0)
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
        // A pulled cable takes the whole transfer that would cross the limit with it.
        if (phone->bytesUntilDisconnect && uint64_t(length) > *phone->bytesUntilDisconnect) {
            bus().unplug(*phone);
            return LIBUSB_ERROR_NO_DEVICE;
        }
        phone->responder.bulkOut(data, size_t(length));
        moved = size_t(length);
    } else if (endpoint == kBulkIn) {
        moved = phone->responder.bulkIn(data, size_t(length));
        if (moved && phone->bytesUntilDisconnect && *moved > *phone->bytesUntilDisconnect) {
            bus().unplug(*phone);
            return LIBUSB_ERROR_NO_DEVICE;
        }
    } else if (endpoint != kInterruptIn) { // the phone sends no events
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (!moved) {
        const double scale = bus().timeoutScale;
        lock.unlock();
        waitTimeout(timeout, scale);
        return LIBUSB_ERROR_TIMEOUT;
    }
    if (phone->bytesUntilDisconnect)
        *phone->bytesUntilDisconnect -= *moved;
    const uint64_t rate = phone->rateLimit;
    lock.unlock();
    if (rate > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(*moved * 1000000 / rate));
    if (transferred)
        *transferred = int(*moved);
    return LIBUSB_SUCCESS;
}

int libusb_interrupt_transfer(libusb_device_handle* handle, unsigned char endpoint,
                              unsigned char* data, int length, int* transferred,
                              unsigned int timeout)
{
    return libusb_bulk_transfer(handle, endpoint, data, length, transferred, timeout);
}

struct libusb_transfer* libusb_alloc_transfer(int isoPackets)
{
    return static_cast<libusb_transfer*>(std::calloc(
        1, sizeof(libusb_transfer) + size_t(isoPackets) * sizeof(libusb_iso_packet_descriptor)));
}

void libusb_free_transfer(struct libusb_transfer* transfer)
{
    if (transfer && (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER))
        std::free(transfer->buffer);
    std::free(transfer);
}

int libusb_submit_transfer(struct libusb_transfer* transfer)
{
    if (transfer->type == LIBUSB_TRANSFER_TYPE_INTERRUPT) {
        // Interrupt IN would carry events; the phone sends none, so it waits for a cancel.
        Lock lock(bus().mutex);
        if (!attached(transfer->dev_handle))
            return LIBUSB_ERROR_NO_DEVICE;
        bus().submitted.push_back(transfer);
        return LIBUSB_SUCCESS;
    }
    if (transfer->type != LIBUSB_TRANSFER_TYPE_BULK)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    int done = 0;
    const int rc = libusb_bulk_transfer(transfer->dev_handle, transfer->endpoint, transfer->buffer,
                                        transfer->length, &done, transfer->timeout);
    if (rc == LIBUSB_ERROR_NO_DEVICE)
        return rc;
    transfer->actual_length = done;
    transfer->status = rc == LIBUSB_SUCCESS         ? LIBUSB_TRANSFER_COMPLETED
                       : rc == LIBUSB_ERROR_TIMEOUT ? LIBUSB_TRANSFER_TIMED_OUT
                                                    : LIBUSB_TRANSFER_ERROR;
    Lock lock(bus().mutex);
    bus().completed.push_back(transfer);
    bus().eventsPending.notify_all();
    return LIBUSB_SUCCESS;
}

int libusb_cancel_transfer(struct libusb_transfer* transfer)
{
    Lock lock(bus().mutex);
    auto& submitted = bus().submitted;
    const auto it = std::find(submitted.begin(), submitted.end(), transfer);
    if (it == submitted.end())
        return LIBUSB_ERROR_NOT_FOUND;
    submitted.erase(it);
    transfer->status = LIBUSB_TRANSFER_CANCELLED;
    bus().completed.push_back(transfer);
    bus().eventsPending.notify_all();
    return LIBUSB_SUCCESS;
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

void* libusb_hotplug_get_user_data(libusb_context* ctx, libusb_hotplug_callback_handle handle)
{
    Lock lock(bus().mutex);
    for (const auto& cb : bus().context(ctx)->callbacks) {
        if (cb.handle == handle)
            return cb.userData;
    }
    return nullptr;
}

int libusb_handle_events_timeout_completed(libusb_context* ctx, struct timeval* tv, int* completed)
{
    Lock lock(bus().mutex);
    libusb_context* c = bus().context(ctx);
    if (completed && *completed)
        return LIBUSB_SUCCESS;
    const auto wait = tv ? std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec)
                         : std::chrono::microseconds(std::chrono::seconds(60));
    bus().eventsPending.wait_for(lock, wait, [&] {
        return !c->pendingHotplug.empty() || !bus().completed.empty() || c->interrupted;
    });
    c->interrupted = false;
    const auto events = std::exchange(c->pendingHotplug, {});
    const auto transfers = std::exchange(bus().completed, {});
    const auto callbacks = c->callbacks;
    lock.unlock();
    for (const auto& [device, event] : events) {
        for (const auto& cb : callbacks) {
            if (matches(cb, device, event) && cb.function(c, device, event, cb.userData))
                libusb_hotplug_deregister_callback(c, cb.handle);
        }
    }
    for (libusb_transfer* transfer : transfers) {
        const bool freeIt = transfer->flags & LIBUSB_TRANSFER_FREE_TRANSFER;
        if (transfer->callback)
            transfer->callback(transfer);
        if (freeIt)
            libusb_free_transfer(transfer);
    }
    return LIBUSB_SUCCESS;
}

int libusb_handle_events_timeout(libusb_context* ctx, struct timeval* tv)
{
    return libusb_handle_events_timeout_completed(ctx, tv, nullptr);
}

int libusb_handle_events_completed(libusb_context* ctx, int* completed)
{
    return libusb_handle_events_timeout_completed(ctx, nullptr, completed);
}

int libusb_handle_events(libusb_context* ctx)
{
    return libusb_handle_events_timeout_completed(ctx, nullptr, nullptr);
}

void libusb_interrupt_event_handler(libusb_context* ctx)
{
    Lock lock(bus().mutex);
    bus().context(ctx)->interrupted = true;
    bus().eventsPending.notify_all();
}

} // extern "C"
