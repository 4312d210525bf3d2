// The bridge end to end: the real libmtp against the emulated phone.
#include "bridge/mtp_bridge.h"
#include "phone/phone_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace qb {
namespace {

namespace fs = std::filesystem;

struct Closer
{
    void operator()(mtp_bridge_handle* h) const { mtp_bridge_close_device(h); }
};
using Handle = std::unique_ptr<mtp_bridge_handle, Closer>;

template <typename T> struct Array
{
    T* data = nullptr;
    int32_t count = 0;
    ~Array() { mtp_bridge_free(data); }
    T& operator[](int i) { return data[i]; }
};

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

    Handle open(const EmulatedPhone& phone)
    {
        Handle handle(mtp_bridge_open_device(deviceId(phone).c_str()));
        EXPECT_NE(handle, nullptr);
        return handle;
    }

    // The top-level entry of storage 0 with this name.
    static const mtp_bridge_file_info* find(Array<mtp_bridge_file_info>& list,
                                            const std::string& name)
    {
        for (int i = 0; i < list.count; ++i)
            if (name == list[i].name)
                return &list[i];
        return nullptr;
    }

    static void listRoot(mtp_bridge_handle* h, Array<mtp_bridge_file_info>& out)
    {
        out.data = mtp_bridge_list_files(h, EmulatedPhone::storageId(), 0, &out.count);
    }
};

TEST_F(MTPBridgeTest, DeviceListGivesStableIdsAndNames)
{
    {
        Array<mtp_bridge_device_info> none;
        none.count = 99;
        none.data = mtp_bridge_list_devices(&none.count);
        EXPECT_EQ(none.data, nullptr);
        EXPECT_EQ(none.count, 0);
    }
    EmulatedPhone& phone = plugPhone();
    Array<mtp_bridge_device_info> first, second;
    first.data = mtp_bridge_list_devices(&first.count);
    second.data = mtp_bridge_list_devices(&second.count);
    ASSERT_EQ(first.count, 1);
    ASSERT_EQ(second.count, 1);
    EXPECT_EQ(std::string(first[0].id), deviceId(phone));
    EXPECT_STREQ(first[0].id, second[0].id);
    EXPECT_GT(std::strlen(first[0].manufacturer), 0u);
    EXPECT_EQ(std::string(first[0].friendly_name),
              std::string(first[0].manufacturer) + " " + first[0].model);
    EXPECT_STREQ(first[0].serial_number, "");

    // A phone missing from libmtp's table gets default names.
    PhoneLayout layout;
    layout.vendorId = 0x1234;
    layout.productId = 0x5678;
    fs::create_directories(tempFolder() / "probe");
    layout.storages.push_back({tempFolder() / "probe"});
    EmulatedPhone unknown(layout);
    Array<mtp_bridge_device_info> both;
    both.data = mtp_bridge_list_devices(&both.count);
    ASSERT_EQ(both.count, 2);
    EXPECT_STREQ(both[1].friendly_name, "Android Device");
}

TEST_F(MTPBridgeTest, OpenFindsOnlyTheExactIdAndTellsABusyInterfaceApart)
{
    EmulatedPhone& phone = plugPhone();
    EXPECT_EQ(mtp_bridge_open_device("unknown_9_9"), nullptr);
    EXPECT_EQ(mtp_bridge_open_device((deviceId(phone) + "0").c_str()), nullptr);
    EXPECT_EQ(phone.count(MtpOperation::OpenSession), 0);
    EXPECT_STREQ(mtp_bridge_last_error(nullptr), "No device");
    mtp_bridge_close_device(nullptr);

    EXPECT_EQ(mtp_bridge_device_busy(deviceId(phone).c_str()), 0);
    EXPECT_EQ(mtp_bridge_device_busy("unknown_9_9"), 0);
    phone.setInterfaceBusy(true);
    EXPECT_EQ(mtp_bridge_open_device(deviceId(phone).c_str()), nullptr);
    EXPECT_EQ(mtp_bridge_device_busy(deviceId(phone).c_str()), 1);
    phone.setInterfaceBusy(false);
    Handle h = open(phone);
    ASSERT_TRUE(h);
    EXPECT_STREQ(mtp_bridge_last_error(h.get()), "");
}

// The protocol's strings stop at 254 characters: the field stays terminated.
TEST_F(MTPBridgeTest, LongStorageDescriptionStaysTerminated)
{
    PhoneLayout layout;
    fs::create_directories(tempFolder() / "long");
    layout.storages.push_back({tempFolder() / "long", std::string(300, 'd')});
    EmulatedPhone longNamed(layout);
    Handle l = open(longNamed);
    Array<mtp_bridge_storage_info> list;
    list.data = mtp_bridge_list_storages(l.get(), &list.count);
    ASSERT_EQ(list.count, 1);
    const std::string description(list[0].description, strnlen(list[0].description, 256));
    EXPECT_LE(description.size(), 255u);
    EXPECT_GE(description.size(), 200u);
}

// Parent 0 means the top folder to our callers but the whole storage to an Android phone.
TEST_F(MTPBridgeTest, RootListingAndUploadAskForTheTopFolderAndSubfoldersPassUnchanged)
{
    EmulatedPhone& phone =
        plugPhone({{"DCIM/photo.jpg", "jpeg"}, {"notes.txt", "abc"}, {"Empty/", ""}});
    Handle h = open(phone);
    phone.clearTrace();
    Array<mtp_bridge_file_info> root;
    listRoot(h.get(), root);
    ASSERT_EQ(root.count, 3);
    const auto handlesCalls = [&] {
        std::vector<std::vector<uint32_t>> params;
        for (const auto& entry : phone.trace())
            if (entry.operation == MtpOperation::GetObjectHandles)
                params.push_back(entry.params);
        return params;
    };
    auto calls = handlesCalls();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_GE(calls[0].size(), 3u);
    EXPECT_EQ(calls[0][0], EmulatedPhone::storageId());
    EXPECT_EQ(calls[0][2], 0xFFFFFFFFu);

    const auto* dcim = find(root, "DCIM");
    const auto* notes = find(root, "notes.txt");
    ASSERT_TRUE(dcim && notes);
    EXPECT_EQ(dcim->is_folder, 1);
    EXPECT_EQ(notes->is_folder, 0);
    EXPECT_EQ(notes->size, 3u);
    EXPECT_EQ(notes->storage_id, EmulatedPhone::storageId());
    EXPECT_EQ(std::string(notes->path),
              std::to_string(EmulatedPhone::storageId()) + "/" + std::to_string(notes->object_id));
    EXPECT_GT(notes->mtime, 0);
    EXPECT_STREQ(notes->mime_type, "");

    phone.clearTrace();
    Array<mtp_bridge_file_info> sub;
    sub.data =
        mtp_bridge_list_files(h.get(), EmulatedPhone::storageId(), dcim->object_id, &sub.count);
    ASSERT_EQ(sub.count, 1);
    EXPECT_STREQ(sub[0].name, "photo.jpg");
    EXPECT_EQ(sub[0].parent_id, dcim->object_id);
    calls = handlesCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][2], dcim->object_id);

    Array<mtp_bridge_file_info> empty;
    empty.data = mtp_bridge_list_files(h.get(), EmulatedPhone::storageId(),
                                       find(root, "Empty")->object_id, &empty.count);
    EXPECT_EQ(empty.data, nullptr);
    EXPECT_EQ(empty.count, 0);

    // An upload to the top (parent 0) goes there under the local name.
    writeFile(tempFolder() / "x" / "report.pdf", "pdf");
    ASSERT_EQ(mtp_bridge_upload_file(h.get(), (tempFolder() / "x" / "report.pdf").c_str(),
                                     EmulatedPhone::storageId(), 0, nullptr, nullptr),
              0);
    EXPECT_EQ(readFile(phone.storageFolder() / "report.pdf"), "pdf");
}

TEST_F(MTPBridgeTest, CreateDeleteAndRenameChangeThePhone)
{
    EmulatedPhone& phone = plugPhone({{"old.txt", "body"}, {"Folder/inner.txt", "in"}});
    Handle h = open(phone);
    const uint32_t storage = EmulatedPhone::storageId();

    const uint32_t created = mtp_bridge_create_folder(h.get(), storage, 0, "New");
    EXPECT_NE(created, 0u);
    EXPECT_TRUE(fs::is_directory(phone.storageFolder() / "New"));
    EXPECT_EQ(mtp_bridge_create_folder(h.get(), storage, 0, "New"), 0u); // exists already
    EXPECT_NE(mtp_bridge_create_folder(h.get(), storage, created, "Inside"), 0u);
    EXPECT_TRUE(fs::is_directory(phone.storageFolder() / "New" / "Inside"));
    EXPECT_EQ(mtp_bridge_create_folder(nullptr, storage, 0, "X"), 0u);

    Array<mtp_bridge_file_info> root;
    listRoot(h.get(), root);
    const auto* old = find(root, "old.txt");
    const auto* folder = find(root, "Folder");
    ASSERT_TRUE(old && folder);

    EXPECT_EQ(mtp_bridge_rename_object(h.get(), old->object_id, "renamed.txt"), 0);
    EXPECT_EQ(readFile(phone.storageFolder() / "renamed.txt"), "body");
    EXPECT_FALSE(fs::exists(phone.storageFolder() / "old.txt"));

    EXPECT_EQ(mtp_bridge_rename_object(h.get(), folder->object_id, "Folder2"), 0);
    EXPECT_EQ(readFile(phone.storageFolder() / "Folder2" / "inner.txt"), "in");
    EXPECT_EQ(mtp_bridge_rename_object(h.get(), 0x7777777, "x"), -1);

    EXPECT_EQ(mtp_bridge_delete_object(h.get(), old->object_id), 0);
    EXPECT_FALSE(fs::exists(phone.storageFolder() / "renamed.txt"));
    EXPECT_NE(mtp_bridge_delete_object(h.get(), old->object_id), 0);
    EXPECT_EQ(mtp_bridge_delete_object(nullptr, 1), -1);
}

} // namespace
} // namespace qb
