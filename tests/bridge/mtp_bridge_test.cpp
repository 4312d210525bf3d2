// The bridge end to end: the real libmtp against the emulated phone. Listing, transfers and
// changes through it are covered by the MTPClient and repository tests.
#include "bridge/mtp_bridge.h"
#include "phone/phone_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qb {
namespace {

std::string deviceId(const EmulatedPhone& phone)
{
    return "unknown_" + std::to_string(phone.busNumber()) + "_" +
           std::to_string(phone.deviceAddress());
}

class MTPBridgeTest : public PhoneTest
{
protected:
    void SetUp() override
    {
        PhoneTest::SetUp();
        mtp_bridge_init();
    }
};

TEST_F(MTPBridgeTest, OpenFindsOnlyTheExactIdAndNullHandlesAreRefused)
{
    EmulatedPhone& plugged = plugPhone();
    int32_t count = 99;
    auto* devices = mtp_bridge_list_devices(&count);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(devices[0].serial_number, "");
    mtp_bridge_free(devices);

    EXPECT_EQ(mtp_bridge_open_device("unknown_9_9"), nullptr);
    EXPECT_EQ(mtp_bridge_open_device((deviceId(plugged) + "0").c_str()), nullptr);
    EXPECT_EQ(plugged.count(MtpOperation::OpenSession), 0);
    EXPECT_STREQ(mtp_bridge_last_error(nullptr), "No device");
    mtp_bridge_close_device(nullptr);
    EXPECT_EQ(mtp_bridge_create_folder(nullptr, EmulatedPhone::storageId(), 0, "X"), 0u);
    EXPECT_EQ(mtp_bridge_delete_object(nullptr, 1), -1);
    EXPECT_EQ(mtp_bridge_device_busy("unknown_9_9"), 0);
    plugged.setInterfaceBusy(true);
    EXPECT_EQ(mtp_bridge_device_busy(deviceId(plugged).c_str()), 1);
}

// A phone missing from libmtp's table gets default names; the protocol's strings stop at 254
// characters and the field stays terminated.
TEST_F(MTPBridgeTest, UnknownPhoneGetsDefaultNamesAndLongDescriptionStaysTerminated)
{
    PhoneLayout layout;
    layout.vendorId = 0x1234;
    layout.productId = 0x5678;
    layout.storages.push_back({tempFolder(), std::string(300, 'd')});
    EmulatedPhone unknown(layout);
    int32_t count = 0;
    auto* devices = mtp_bridge_list_devices(&count);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(devices[0].friendly_name, "Android Device");
    mtp_bridge_free(devices);

    mtp_bridge_handle* h = mtp_bridge_open_device(deviceId(unknown).c_str());
    ASSERT_NE(h, nullptr);
    auto* storages = mtp_bridge_list_storages(h, &count);
    ASSERT_EQ(count, 1);
    const size_t length = strnlen(storages[0].description, 256);
    EXPECT_LE(length, 255u);
    EXPECT_GE(length, 200u);
    mtp_bridge_free(storages);
    mtp_bridge_close_device(h);
}

} // namespace
} // namespace qb
