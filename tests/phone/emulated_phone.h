// The emulated Android phone: a test double for real USB hardware that the real libmtp talks to.
//
// How to use it
//   Link the test with `qb_add_test(name SOURCES ... LIBS ... PHONE)`: the binary then loads our
//   stand-in libusb-1.0.so.0 (which holds the phone) instead of the system one, so libmtp and our
//   own USB code see the phone on bus 1. Derive the test fixture from qb::PhoneTest
//   (phone_test.h): it checks the stand-in is really loaded and cleans up.
//
//     TEST_F(MyTest, Lists) {
//         EmulatedPhone& phone = plugPhone({{"DCIM/Camera/a.jpg", "jpeg bytes"}, {"Music/", ""}});
//         ... open it through libmtp (18d1:4ee2 "Google Pixel 7", serial "QB0001") ...
//         EXPECT_EQ(readFile(phone.storageFolder() / "DCIM/Camera/a.jpg"), "jpeg bytes");
//     }
//
//   Each storage is a real folder: put files there before or during a test, check the bytes after.
//   Object handles are assigned as the host lists folders. Android semantics: GetObjectHandles
//   with parent 0xFFFFFFFF lists a storage's top level, parent 0 lists the whole storage; objects
//   at the top report parent 0; SendObjectInfo to parent 0 fails (InvalidObjectHandle); creating
//   an existing name fails (GeneralError); only the file name can be changed.
//
//   Faults (each counts from the moment it is set; the time-out waits libusb's time-out scaled
//   by setTimeoutScale(), so libmtp's 60 s take 60 ms):
//     phone.failOperation(MtpOperation::GetObject, 1);        // next GetObject: GeneralError
//     phone.failOperation(MtpOperation::SendObjectInfo, 2, MtpResponse::StoreFull);
//     phone.hangOperation(MtpOperation::GetObjectHandles, 1); // no answer: the host times out
//     phone.disconnectAfterBytes(100000); // the transfer crossing 100000 more bulk bytes fails
//                                         // with LIBUSB_ERROR_NO_DEVICE: the cable is pulled
//     phone.setRateLimit(64 * 1024);      // bytes per second over the bulk pipes (0: unlimited)
//     phone.setInterfaceBusy(true);       // libusb_claim_interface fails with LIBUSB_ERROR_BUSY
//     phone.unplug(); phone.plug();       // hot-plug events; a new device number on each plug
//   A broken-off upload leaves no file on the phone (as on Android). phone.trace() lists the MTP
//   operations with their parameters and response (None: the host never got one).
//   Under LeakSanitizer, PhoneTest suppresses libmtp's own leaks (see phone_test.cpp).
//
//   Without this API (for the stock mtp-tools): run with LD_LIBRARY_PATH at the stand-in's folder
//   and QB_PHONE_FOLDER=<folder> (optionally QB_PHONE_SD_FOLDER=<folder> for an SD card); a phone
//   backed by those folders is plugged in when libusb is initialised.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
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
};

enum class MtpResponse : uint16_t {
    None = 0, // no response was sent (hung, cancelled or unplugged)
    OK = 0x2001,
    GeneralError = 0x2002,
    SessionNotOpen = 0x2003,
    OperationNotSupported = 0x2005,
    IncompleteTransfer = 0x2007,
    InvalidStorageID = 0x2008,
    InvalidObjectHandle = 0x2009,
    StoreFull = 0x200C,
    NoValidObjectInfo = 0x2015,
    InvalidParentObject = 0x201A,
    InvalidParameter = 0x201D,
    SessionAlreadyOpen = 0x201E,
    ObjectPropNotSupported = 0xA80A,
};

struct StorageLayout
{
    std::filesystem::path folder; // backing folder; must exist
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

struct PhoneTraceEntry
{
    MtpOperation operation;
    std::vector<uint32_t> params;
    MtpResponse response = MtpResponse::None;
};

struct PhoneState;

// One emulated phone. Plugged in on construction, unplugged and forgotten on destruction.
// Thread-safe: tests call it while libmtp works on other threads.
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

    void plug(); // no-op while plugged; otherwise a new device number and an "arrived" event
    void unplug();
    uint8_t busNumber() const { return 1; }
    uint8_t deviceAddress() const; // 0 while unplugged

    void failOperation(MtpOperation operation, int nth,
                       MtpResponse response = MtpResponse::GeneralError);
    void hangOperation(MtpOperation operation, int nth);
    void disconnectAfterBytes(uint64_t bytes);
    void setRateLimit(uint64_t bytesPerSecond);
    void setInterfaceBusy(bool busy);
    void clearFaults();

    std::vector<PhoneTraceEntry> trace() const;
    int count(MtpOperation operation) const; // how often the trace holds it
    void clearTrace();

    // How long an unanswered transfer blocks: libusb's time-out times this (default 1/1000,
    // so libmtp's 60 s becomes 60 ms).
    static void setTimeoutScale(double scale);
    // True when this process's libusb-1.0.so.0 (and libmtp's, if loaded) is the stand-in.
    static bool standInLoaded();

private:
    std::shared_ptr<PhoneState> m_state;
};

} // namespace qb
