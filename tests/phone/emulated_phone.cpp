#include "emulated_phone.h"

#include "phone_registry.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>

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

std::string toString(MtpOperation operation)
{
    static const std::pair<MtpOperation, const char*> names[] = {
        {MtpOperation::GetDeviceInfo, "GetDeviceInfo"},
        {MtpOperation::OpenSession, "OpenSession"},
        {MtpOperation::CloseSession, "CloseSession"},
        {MtpOperation::GetStorageIDs, "GetStorageIDs"},
        {MtpOperation::GetStorageInfo, "GetStorageInfo"},
        {MtpOperation::GetObjectHandles, "GetObjectHandles"},
        {MtpOperation::GetObjectInfo, "GetObjectInfo"},
        {MtpOperation::GetObject, "GetObject"},
        {MtpOperation::DeleteObject, "DeleteObject"},
        {MtpOperation::SendObjectInfo, "SendObjectInfo"},
        {MtpOperation::SendObject, "SendObject"},
        {MtpOperation::GetObjectPropsSupported, "GetObjectPropsSupported"},
        {MtpOperation::GetObjectPropDesc, "GetObjectPropDesc"},
        {MtpOperation::GetObjectPropValue, "GetObjectPropValue"},
        {MtpOperation::SetObjectPropValue, "SetObjectPropValue"}};
    for (const auto& [op, name] : names) {
        if (op == operation)
            return name;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04X", unsigned(operation));
    return hex;
}

EmulatedPhone::EmulatedPhone(PhoneSpec spec)
    : m_state(std::make_shared<PhoneState>(std::move(spec)))
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

const PhoneSpec& EmulatedPhone::spec() const
{
    return m_state->responder.spec();
}

std::filesystem::path EmulatedPhone::storageFolder(int index) const
{
    return spec().storages.at(size_t(index)).folder;
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

bool EmulatedPhone::isPlugged() const
{
    Lock lock(bus().mutex);
    return m_state->device != nullptr;
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

double EmulatedPhone::timeoutScale()
{
    Lock lock(bus().mutex);
    return bus().timeoutScale;
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
