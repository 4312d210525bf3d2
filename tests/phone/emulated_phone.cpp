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

// Runs `change` on the phone's state with the bus locked.
template <typename Change> auto locked(PhoneState& state, Change change)
{
    Lock lock(bus().mutex);
    return change(state);
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
    locked(*m_state, [this](PhoneState&) { bus().plug(m_state); });
}

void EmulatedPhone::plug(uint8_t deviceAddress)
{
    locked(*m_state, [&](PhoneState&) { bus().plug(m_state, deviceAddress); });
}

void EmulatedPhone::unplug()
{
    locked(*m_state, [](PhoneState& s) { bus().unplug(s); });
}

uint8_t EmulatedPhone::deviceAddress() const
{
    return locked(*m_state, [](PhoneState& s) { return s.device ? s.device->address : 0; });
}

void EmulatedPhone::failOperation(MtpOperation operation, int nth, MtpResponse response)
{
    locked(*m_state, [&](PhoneState& s) { s.responder.addFault(operation, nth, false, response); });
}

void EmulatedPhone::hangOperation(MtpOperation operation, int nth)
{
    locked(*m_state,
           [&](PhoneState& s) { s.responder.addFault(operation, nth, true, MtpResponse::None); });
}

void EmulatedPhone::loseResponse(MtpOperation operation, int nth)
{
    locked(*m_state, [&](PhoneState& s) { s.responder.loseResponse(operation, nth); });
}

void EmulatedPhone::disconnectAfterBytes(uint64_t bytes)
{
    locked(*m_state, [&](PhoneState& s) { s.bytesUntilDisconnect = bytes; });
}

void EmulatedPhone::timeOutBulkReadAfterBytes(uint64_t bytes)
{
    locked(*m_state, [&](PhoneState& s) { s.readFault = PhoneState::ReadFault{bytes, false}; });
}

void EmulatedPhone::stallBulkReadAfterBytes(uint64_t bytes)
{
    locked(*m_state, [&](PhoneState& s) { s.readFault = PhoneState::ReadFault{bytes, true}; });
}

void EmulatedPhone::dropSession()
{
    locked(*m_state, [](PhoneState& s) { s.responder.dropSession(); });
}

void EmulatedPhone::setRateLimit(uint64_t bytesPerSecond)
{
    locked(*m_state, [&](PhoneState& s) { s.rateLimit = bytesPerSecond; });
}

void EmulatedPhone::setInterfaceBusy(bool busy)
{
    locked(*m_state, [&](PhoneState& s) { s.interfaceBusy = busy; });
}

void EmulatedPhone::sendObjectBytes(std::optional<uint64_t> bytes)
{
    locked(*m_state, [&](PhoneState& s) { s.responder.setObjectBytes(bytes); });
}

void EmulatedPhone::keepBrokenUploads(bool keep)
{
    locked(*m_state, [&](PhoneState& s) { s.responder.setKeepBrokenUploads(keep); });
}

int EmulatedPhone::count(MtpOperation operation) const
{
    return locked(*m_state, [&](PhoneState& s) {
        return int(std::ranges::count(s.responder.trace(), operation));
    });
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
