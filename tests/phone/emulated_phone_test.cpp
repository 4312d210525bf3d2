#include "phone_test.h"

#include <libmtp.h>

#include <cstdlib>
#include <cstring>
#include <random>

namespace qb {
namespace {

struct DeviceDeleter
{
    void operator()(LIBMTP_mtpdevice_t* device) const { LIBMTP_Release_Device(device); }
};
using MtpDevice = std::unique_ptr<LIBMTP_mtpdevice_t, DeviceDeleter>;

struct Entry
{
    uint32_t id;
    std::string name;
    bool folder;
    uint64_t size;
    uint32_t parent;
    bool operator==(const Entry&) const = default;
};

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

    static std::string randomBytes(size_t size)
    {
        std::mt19937 generator{static_cast<uint32_t>(size)};
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = char(generator());
        return bytes;
    }

    static std::vector<Entry> list(LIBMTP_mtpdevice_t* device, uint32_t storage, uint32_t parent)
    {
        std::vector<Entry> entries;
        LIBMTP_file_t* file = LIBMTP_Get_Files_And_Folders(device, storage, parent);
        while (file) {
            entries.push_back({file->item_id, file->filename,
                               file->filetype == LIBMTP_FILETYPE_FOLDER, file->filesize,
                               file->parent_id});
            LIBMTP_file_t* next = file->next;
            LIBMTP_destroy_file_t(file);
            file = next;
        }
        return entries;
    }
};

TEST_F(EmulatedPhoneTest, ListsTreeWithAndroidParentSemantics)
{
    EmulatedPhone& phone =
        plugPhone({{"DCIM/Camera/a.jpg", "jpeg"}, {"DCIM/b.txt", "bb"}, {"Music/", ""}});
    MtpDevice device = open();
    ASSERT_TRUE(device);
    ASSERT_NE(device->storage, nullptr);
    EXPECT_EQ(device->storage->id, EmulatedPhone::storageId(0));
    EXPECT_STREQ(device->storage->StorageDescription, "Internal shared storage");

    const auto top = list(device.get(), EmulatedPhone::storageId(0), 0xFFFFFFFF);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0].name, "DCIM");
    EXPECT_TRUE(top[0].folder);
    EXPECT_EQ(top[0].parent, 0u);
    EXPECT_EQ(top[1].name, "Music");

    const auto dcim = list(device.get(), EmulatedPhone::storageId(0), top[0].id);
    ASSERT_EQ(dcim.size(), 2u);
    EXPECT_EQ(dcim[0].name, "Camera");
    EXPECT_EQ(dcim[1].name, "b.txt");
    EXPECT_EQ(dcim[1].size, 2u);
    EXPECT_EQ(dcim[1].parent, top[0].id);

    // Parent 0 lists the whole storage.
    EXPECT_EQ(list(device.get(), EmulatedPhone::storageId(0), 0).size(), 5u);
    (void)phone;
}

// Sizes around the USB framing rules: empty, one short packet, containers (12-byte header plus
// data) of exactly one and two packets, libmtp's 16 KiB read chunks, and a larger odd size.
const size_t kSizes[] = {0, 1, 500, 1012, 16384 - 12, 16384, 3 * 16384 + 7, (1 << 20) + 3};

TEST_F(EmulatedPhoneTest, DownloadsAreByteIdentical)
{
    std::map<std::string, std::string> files;
    for (size_t size : kSizes)
        files["f" + std::to_string(size) + ".bin"] = randomBytes(size);
    plugPhone(files);
    MtpDevice device = open();
    ASSERT_TRUE(device);
    for (const Entry& entry : list(device.get(), EmulatedPhone::storageId(0), 0xFFFFFFFF)) {
        const std::string local = (tempFolder() / entry.name).string();
        ASSERT_EQ(LIBMTP_Get_File_To_File(device.get(), entry.id, local.c_str(), nullptr, nullptr),
                  0)
            << entry.name;
        EXPECT_EQ(entry.size, files[entry.name].size());
        EXPECT_TRUE(readFile(local) == files[entry.name]) << entry.name;
    }
}

TEST_F(EmulatedPhoneTest, UploadsAreByteIdentical)
{
    EmulatedPhone& phone = plugPhone({{"Download/", ""}});
    MtpDevice device = open();
    ASSERT_TRUE(device);
    const auto top = list(device.get(), EmulatedPhone::storageId(0), 0xFFFFFFFF);
    ASSERT_EQ(top.size(), 1u);
    for (size_t size : kSizes) {
        const std::string name = "u" + std::to_string(size) + ".bin";
        const std::string content = randomBytes(size);
        writeFile(tempFolder() / name, content);
        LIBMTP_file_t* file = LIBMTP_new_file_t();
        file->filename = strdup(name.c_str());
        file->filesize = size;
        file->filetype = LIBMTP_FILETYPE_UNKNOWN;
        file->parent_id = top[0].id;
        file->storage_id = EmulatedPhone::storageId(0);
        const int rc = LIBMTP_Send_File_From_File(device.get(), (tempFolder() / name).c_str(), file,
                                                  nullptr, nullptr);
        LIBMTP_destroy_file_t(file);
        ASSERT_EQ(rc, 0) << name;
        EXPECT_TRUE(readFile(phone.storageFolder() / "Download" / name) == content) << name;
    }
    EXPECT_EQ(list(device.get(), EmulatedPhone::storageId(0), top[0].id).size(), std::size(kSizes));
}

} // namespace
} // namespace qb
