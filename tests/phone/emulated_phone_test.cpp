// The emulated phone's USB transport faults, through the real libmtp and libusb calls; the rest of
// the phone is covered by the tests of the layers above it.
#include "phone_test.h"

#include <libmtp.h>
#include <libusb-1.0/libusb.h>

#include <gmock/gmock.h>

#include <cstdlib>
#include <optional>

namespace qb {
namespace {

using ::testing::HasSubstr;

struct DeviceDeleter
{
    void operator()(LIBMTP_mtpdevice_t* device) const { LIBMTP_Release_Device(device); }
};
using MtpDevice = std::unique_ptr<LIBMTP_mtpdevice_t, DeviceDeleter>;

class EmulatedPhoneTest : public PhoneTest
{
protected:
    void SetUp() override
    {
        PhoneTest::SetUp();
        LIBMTP_Init();
    }

    static MtpDevice open()
    {
        LIBMTP_raw_device_t* raw = nullptr;
        int count = 0;
        LIBMTP_Detect_Raw_Devices(&raw, &count);
        MtpDevice device(count > 0 ? LIBMTP_Open_Raw_Device_Uncached(&raw[0]) : nullptr);
        std::free(raw);
        return device;
    }

    // The names at the top of the first storage, or nullopt when libmtp failed.
    static std::optional<std::vector<std::string>> list(LIBMTP_mtpdevice_t* device)
    {
        std::vector<std::string> names;
        LIBMTP_file_t* file =
            LIBMTP_Get_Files_And_Folders(device, EmulatedPhone::storageId(0), 0xFFFFFFFF);
        for (LIBMTP_file_t* next = nullptr; file; file = next) {
            names.push_back(file->filename);
            next = file->next;
            LIBMTP_destroy_file_t(file);
        }
        if (names.empty() && LIBMTP_Get_Errorstack(device))
            return std::nullopt;
        return names;
    }

    // libmtp's error texts since the last call, one a line.
    static std::string errors(LIBMTP_mtpdevice_t* device)
    {
        std::string text;
        for (LIBMTP_error_t* e = LIBMTP_Get_Errorstack(device); e; e = e->next)
            text += std::string(e->error_text) + "\n";
        LIBMTP_Clear_Errorstack(device);
        return text;
    }
};

// Each fault breaks the open device as a real phone would, fires once, and a release (with its
// USB reset) and a new open recover; a handle from before an unplug never comes back to life.
TEST_F(EmulatedPhoneTest, TransportFaultsBreakTheOpenDeviceOnceAndAReopenRecovers)
{
    EmulatedPhone& phone = plugPhone({{"a.bin", std::string(100000, 'a')}, {"Music/", ""}});
    const std::vector<std::string> names = {"Music", "a.bin"};
    const std::string local = (tempFolder() / "a.bin").string();
    const uint32_t file = 2; // handles follow the sorted names

    for (const std::string fault : {"timeout", "stall", "dropsession"}) {
        SCOPED_TRACE(fault);
        MtpDevice device = open();
        ASSERT_TRUE(device);
        ASSERT_EQ(list(device.get()), names);
        if (fault == "timeout") {
            // What the host left unread comes first after its next command.
            phone.timeOutBulkReadAfterBytes(1000);
            EXPECT_NE(LIBMTP_Get_File_To_File(device.get(), file, local.c_str(), {}, {}), 0);
            EXPECT_THAT(errors(device.get()), HasSubstr("Error 02fa: PTP Timeout"));
            EXPECT_EQ(list(device.get()), std::nullopt);
            EXPECT_THAT(errors(device.get()), HasSubstr("Error 02fe: PTP Data Expected"));
        } else if (fault == "stall") {
            phone.stallBulkReadAfterBytes(1000);
            EXPECT_NE(LIBMTP_Get_File_To_File(device.get(), file, local.c_str(), {}, {}), 0);
            EXPECT_THAT(errors(device.get()), HasSubstr("Error 02ff: PTP I/O Error"));
            EXPECT_EQ(list(device.get()), std::nullopt); // libmtp never clears the halt
            EXPECT_THAT(errors(device.get()), HasSubstr("Error 02ff: PTP I/O Error"));
        } else {
            phone.dropSession();
            EXPECT_EQ(list(device.get()), std::nullopt);
            EXPECT_NE(LIBMTP_Delete_Object(device.get(), 999), 0);
            EXPECT_THAT(errors(device.get()), HasSubstr("Error 2003: PTP Session Not Open"));
        }
        device.reset();
        device = open();
        ASSERT_TRUE(device);
        EXPECT_EQ(list(device.get()), names);
        EXPECT_EQ(LIBMTP_Get_File_To_File(device.get(), file, local.c_str(), {}, {}), 0);
        EXPECT_EQ(readFile(local), std::string(100000, 'a'));
        EXPECT_NE(LIBMTP_Delete_Object(device.get(), 999), 0);
        EXPECT_THAT(errors(device.get()), HasSubstr("Error 2009"));
    }

    // Plugged again at the same device number, the phone is a new device to libusb.
    libusb_context* usb = nullptr;
    ASSERT_EQ(libusb_init(&usb), 0);
    const auto openFirst = [usb] {
        libusb_device** devices = nullptr;
        libusb_device_handle* handle = nullptr;
        if (libusb_get_device_list(usb, &devices) < 1 || libusb_open(devices[0], &handle) != 0)
            handle = nullptr;
        libusb_free_device_list(devices, 1);
        return handle;
    };
    libusb_device_handle* old = openFirst();
    ASSERT_TRUE(old);
    const uint8_t address = phone.deviceAddress();
    phone.unplug();
    phone.plug(address);
    unsigned char buffer[64] = {};
    int moved = 0;
    EXPECT_EQ(libusb_bulk_transfer(old, 0x81, buffer, 64, &moved, 100), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_claim_interface(old, 0), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_get_string_descriptor_ascii(old, 1, buffer, 64), LIBUSB_ERROR_NO_DEVICE);
    libusb_device_handle* fresh = openFirst();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(libusb_get_string_descriptor_ascii(fresh, 1, buffer, 64), 6); // "Google"
    EXPECT_EQ(libusb_claim_interface(fresh, 0), 0);
    libusb_close(old);
    libusb_close(fresh);
    libusb_exit(usb);
}

} // namespace
} // namespace qb
