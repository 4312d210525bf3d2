// The phone's MTP responder: containers in from the bulk OUT pipe, containers out to bulk IN,
// with Android's semantics and USB framing. File data streams between the pipes and the storage
// folders in blocks; no file is ever held in memory. Not thread-safe (the registry locks it).
#pragma once

#include "emulated_phone.h"
#include "phone_objects.h"

#include <memory>
#include <optional>
#include <vector>

namespace qb {

class MtpResponder
{
public:
    static constexpr size_t kPacketSize = 512; // bulk wMaxPacketSize (USB 2 high speed)

    explicit MtpResponder(PhoneLayout layout);
    ~MtpResponder();

    const PhoneLayout& layout() const { return m_layout; }

    // One host-to-device bulk transfer. A transfer that is not a whole number of packets (or
    // is empty) ends the container, as a short packet does on the wire.
    void bulkOut(const uint8_t* data, size_t size);
    // One device-to-host bulk transfer of up to `size` bytes; nullopt when the phone has nothing
    // to send (the host's read then times out).
    std::optional<size_t> bulkIn(uint8_t* data, size_t size);

    void cancelTransaction(); // PTP class request "cancel": drops the current transfer
    void reset();             // USB reset or unplug: session closed, transfers dropped

    void failOperation(MtpOperation operation, int nth, MtpResponse response);
    void hangOperation(MtpOperation operation, int nth);
    void clearFaults() { m_faults.clear(); }
    std::vector<PhoneTraceEntry>& trace() { return m_trace; }

    struct Command;
    struct Reply;
    struct Outgoing;
    struct Incoming;

private:
    struct Fault
    {
        uint16_t operation;
        int remaining;
        bool hang;
        MtpResponse response;
    };

    void onCommand(const Command& command);
    void onDataEnd();
    void queue(const Command& command, Reply reply);
    void dropOutgoing();
    void dropPendingUpload();
    std::optional<Fault> takeFault(uint16_t operation);

    Reply dispatch(const Command& command);
    Reply receive(const Command& command, const std::vector<uint8_t>& data);
    Reply deviceInfo() const;
    Reply storageInfo(const Command& command) const;
    Reply objectHandles(const Command& command);
    Reply objectData(const Command& command);
    Reply deleteObject(const Command& command);
    Reply sendObjectInfo(const Command& command, const std::vector<uint8_t>& data);
    Reply setObjectName(const Command& command, const std::vector<uint8_t>& data);

    PhoneLayout m_layout;
    PhoneObjects m_objects;
    bool m_sessionOpen = false;
    std::vector<uint8_t> m_commandBytes;
    std::unique_ptr<Incoming> m_incoming;
    std::vector<Outgoing> m_outgoing; // containers not yet read by the host
    struct PendingSend
    {
        uint32_t handle;
        uint32_t size; // 0xFFFFFFFF: 4 GiB or more, unknown
    };
    std::optional<PendingSend> m_pendingSend; // announced by SendObjectInfo

    std::vector<Fault> m_faults;
    std::vector<PhoneTraceEntry> m_trace;
};

} // namespace qb
