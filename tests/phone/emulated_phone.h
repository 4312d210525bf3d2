// The emulated Android phone that the real libmtp talks to, in place of USB hardware.
//
// Link a test with `qb_add_test(... PHONE)` (it then loads our stand-in libusb-1.0.so.0, which
// holds the phones, on bus 1) and derive its fixture from qb::PhoneTest (phone_test.h):
//     EmulatedPhone& phone = plugPhone({{"DCIM/Camera/a.jpg", "jpeg bytes"}, {"Music/", ""}});
// Each storage is a real folder. Android semantics: GetObjectHandles with parent 0xFFFFFFFF lists
// a storage's top level, parent 0 the whole storage; top objects report parent 0; SendObjectInfo
// to parent 0 fails (InvalidObjectHandle); an existing name cannot be created (GeneralError); only
// the file name can be changed; a broken-off upload leaves no file.
// Faults count from the moment they are set: failOperation(op, nth[, response]), hangOperation
// (no answer: the host times out after libusb's time-out times setTimeoutScale()), loseResponse
// (carried out, but its response never comes: the host times out),
// disconnectAfterBytes (the download crossing the limit fails with LIBUSB_ERROR_NO_DEVICE),
// setRateLimit (bytes per second, 0: none), setInterfaceBusy (claiming fails with
// LIBUSB_ERROR_BUSY), keepBrokenUploads (what a broken-off or refused upload wrote stays, as on
// some phones), unplug()/plug() (hot-plug events, a new device number on each plug, or the number
// given), sendObjectBytes (every GetObject sends that many bytes, the file's then zeros, while
// the object's info and size property still give the file's size; none: the file as it is),
// timeOutBulkReadAfterBytes / stallBulkReadAfterBytes (once: the host's bulk IN read that would
// take the next device-to-host data phase past that many bytes, header included, times out after
// the scaled time-out, or halts the IN endpoint: LIBUSB_ERROR_PIPE, and GET_STATUS on it says
// halted, until libusb_clear_halt on it or a USB reset; either way the rest of that phase and its
// response stay queued ahead of the answers to the host's next commands, so libmtp reads stale
// data), dropSession (the phone forgets its session, as after a long idle: SessionNotOpen to all
// but OpenSession and GetDeviceInfo). A handle opened before an unplug stays dead
// (LIBUSB_ERROR_NO_DEVICE) even when the phone comes back at the same device number. count(op)
// tells how often the host has sent an operation. For the stock mtp-tools and the application:
// LD_LIBRARY_PATH at the stand-in's folder and QB_PHONE_FOLDER=<folder>[:<folder>...] (one phone
// each; QB_PHONE_CONTROL names a FIFO taking lines "unplug N", "plug N [device number]", "fail N
// <operation> <nth> <response>" (hex codes), "lose N <operation> <nth>", "timeout N <bytes>",
// "stall N <bytes>", "dropsession N", N counting from 1); QB_PHONE_FAULTS gives that phone faults,
// separated by commas:
// "<Operation>*<n>" fails the next n of that operation (GeneralError), "GetObjectBytes=<n>" is
// sendObjectBytes(n); QB_PHONE_RATE=<bytes per second> slows that phone down;
// QB_PHONE_PRODUCT=<hex product id> (4ee1: plain MTP, with GetObjPropList) for every phone.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qb {

enum class MtpOperation : uint16_t {
    GetDeviceInfo = 0x1001,
    OpenSession = 0x1002,
    CloseSession = 0x1003,
    GetStorageIDs = 0x1004,
    GetStorageInfo = 0x1005,
    GetObjectHandles = 0x1007,
    GetObjectInfo = 0x1008,
    GetObject = 0x1009,
    DeleteObject = 0x100B,
    SendObjectInfo = 0x100C,
    SendObject = 0x100D,
    GetObjectPropsSupported = 0x9801,
    GetObjectPropDesc = 0x9802,
    GetObjectPropValue = 0x9803,
    SetObjectPropValue = 0x9804,
    GetObjPropList = 0x9805, // offered only by a plain MTP phone (product 0x4ee1)
};

enum class MtpResponse : uint16_t {
    None = 0,
    OK = 0x2001,
    GeneralError = 0x2002,
    SessionNotOpen = 0x2003,
    OperationNotSupported = 0x2005,
    IncompleteTransfer = 0x2007,
    InvalidStorageID = 0x2008,
    InvalidObjectHandle = 0x2009,
    StoreFull = 0x200C,
    NoValidObjectInfo = 0x2015,
    DeviceBusy = 0x2019,
    InvalidParentObject = 0x201A,
    InvalidParameter = 0x201D,
    SessionAlreadyOpen = 0x201E,
    ObjectPropNotSupported = 0xA80A,
};

struct StorageLayout
{
    std::filesystem::path folder; // must exist
    std::string description = "Internal shared storage";
    uint64_t capacityBytes = 64ull << 30;
    bool removable = false;
};

struct PhoneLayout
{
    std::string manufacturer = "Google";
    std::string model = "Pixel 7";
    std::string serial = "QB0001";
    uint16_t vendorId = 0x18d1;
    uint16_t productId = 0x4ee2; // in libmtp's table as an Android phone in MTP (+ADB) mode
    std::vector<StorageLayout> storages;
};

struct PhoneState;

// Plugged in on construction, unplugged and forgotten on destruction. Thread-safe.
class EmulatedPhone
{
public:
    explicit EmulatedPhone(PhoneLayout layout);
    ~EmulatedPhone();
    EmulatedPhone(const EmulatedPhone&) = delete;
    EmulatedPhone& operator=(const EmulatedPhone&) = delete;

    const PhoneLayout& layout() const;
    std::filesystem::path storageFolder(int index = 0) const;
    static uint32_t storageId(int index = 0) { return 0x00010001u + (uint32_t(index) << 16); }

    void plug(); // no-op while plugged
    // Plugged in at this device number, as Linux hands out a freed number again; the caller
    // sees that no other phone has it.
    void plug(uint8_t deviceAddress);
    void unplug();
    uint8_t busNumber() const { return 1; }
    uint8_t deviceAddress() const; // 0 while unplugged

    void failOperation(MtpOperation operation, int nth,
                       MtpResponse response = MtpResponse::GeneralError);
    void hangOperation(MtpOperation operation, int nth);
    // The nth operation is carried out whole (a file sent is kept, an object deleted is gone),
    // but its response is lost: the host times out waiting for it.
    void loseResponse(MtpOperation operation, int nth);
    void disconnectAfterBytes(uint64_t bytes);
    void timeOutBulkReadAfterBytes(uint64_t bytes);
    void stallBulkReadAfterBytes(uint64_t bytes);
    void dropSession();
    void setRateLimit(uint64_t bytesPerSecond);
    void setInterfaceBusy(bool busy);
    void sendObjectBytes(std::optional<uint64_t> bytes);
    void keepBrokenUploads(bool keep);
    int count(MtpOperation operation) const;

    static void setTimeoutScale(double scale); // default 1/1000: libmtp's 60 s take 60 ms
    // True when this process's libusb-1.0.so.0 (and libmtp's, if loaded) is the stand-in.
    static bool standInLoaded();

private:
    std::shared_ptr<PhoneState> m_state;
};

} // namespace qb
