#include "emulated_phone.h"

#include "phone_registry.h"

#include <dlfcn.h>

#include <algorithm>

namespace qb {

namespace {

using Lock = std::lock_guard<std::mutex>;

PhoneRegistry& bus()
{
    return PhoneRegistry::instance();
}

// True when `symbol`, as `library` resolves it, lives in this very shared library.
bool resolvesHere(const char* library, const char* symbol)
{
    void* handle = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return false;
    void* address = dlsym(handle, symbol);
    dlclose(handle);
    Dl_info there = {};
    Dl_info here = {};
    return address && dladdr(address, &there) &&
           dladdr(reinterpret_cast<void*>(&resolvesHere), &here) &&
           there.dli_fbase == here.dli_fbase;
}

} // namespace

EmulatedPhone::EmulatedPhone(PhoneLayout layout)
    : m_state(std::make_shared<PhoneState>(std::move(layout)))
{
    Lock lock(bus().mutex);
    bus().phones.push_back(m_state);
    bus().plug(m_state);
}

EmulatedPhone::~EmulatedPhone()
{
    Lock lock(bus().mutex);
    bus().unplug(*m_state);
    std::erase(bus().phones, m_state);
}

const PhoneLayout& EmulatedPhone::layout() const
{
    return m_state->responder.layout();
}

std::filesystem::path EmulatedPhone::storageFolder(int index) const
{
    return layout().storages.at(size_t(index)).folder;
}

void EmulatedPhone::plug()
{
    Lock lock(bus().mutex);
    bus().plug(m_state);
}

void EmulatedPhone::unplug()
{
    Lock lock(bus().mutex);
    bus().unplug(*m_state);
}

uint8_t EmulatedPhone::deviceAddress() const
{
    Lock lock(bus().mutex);
    return m_state->device ? m_state->device->address : 0;
}

void EmulatedPhone::failOperation(MtpOperation operation, int nth, MtpResponse response)
{
    Lock lock(bus().mutex);
    m_state->responder.failOperation(operation, nth, response);
}

void EmulatedPhone::hangOperation(MtpOperation operation, int nth)
{
    Lock lock(bus().mutex);
    m_state->responder.hangOperation(operation, nth);
}

void EmulatedPhone::disconnectAfterBytes(uint64_t bytes)
{
    Lock lock(bus().mutex);
    m_state->bytesUntilDisconnect = bytes;
}

void EmulatedPhone::setRateLimit(uint64_t bytesPerSecond)
{
    Lock lock(bus().mutex);
    m_state->rateLimit = bytesPerSecond;
}

void EmulatedPhone::setInterfaceBusy(bool busy)
{
    Lock lock(bus().mutex);
    m_state->interfaceBusy = busy;
}

void EmulatedPhone::clearFaults()
{
    Lock lock(bus().mutex);
    m_state->responder.clearFaults();
    m_state->bytesUntilDisconnect.reset();
    m_state->rateLimit = 0;
    m_state->interfaceBusy = false;
}

std::vector<PhoneTraceEntry> EmulatedPhone::trace() const
{
    Lock lock(bus().mutex);
    return m_state->responder.trace();
}

int EmulatedPhone::count(MtpOperation operation) const
{
    const std::vector<PhoneTraceEntry> entries = trace();
    return int(std::count_if(entries.begin(), entries.end(),
                             [operation](const auto& e) { return e.operation == operation; }));
}

void EmulatedPhone::clearTrace()
{
    Lock lock(bus().mutex);
    m_state->responder.trace().clear();
}

void EmulatedPhone::setTimeoutScale(double scale)
{
    Lock lock(bus().mutex);
    bus().timeoutScale = scale;
}

bool EmulatedPhone::standInLoaded()
{
    if (!resolvesHere("libusb-1.0.so.0", "libusb_init"))
        return false;
    // libmtp, when loaded, must have bound to the same library.
    void* libmtp = dlopen("libmtp.so.9", RTLD_LAZY | RTLD_NOLOAD);
    if (!libmtp)
        return true;
    dlclose(libmtp);
    return resolvesHere("libmtp.so.9", "libusb_init");
}

} // namespace qb
