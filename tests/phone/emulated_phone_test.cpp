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

    // Uploads a local file as libmtp's users do; returns libmtp's result (0 on success).
    static int upload(LIBMTP_mtpdevice_t* device, const std::filesystem::path& local,
                      uint32_t parent)
    {
        LIBMTP_file_t* file = LIBMTP_new_file_t();
        file->filename = strdup(local.filename().c_str());
        file->filesize = std::filesystem::file_size(local);
        file->filetype = LIBMTP_FILETYPE_UNKNOWN;
        file->parent_id = parent;
        file->storage_id = EmulatedPhone::storageId(0);
        const int rc = LIBMTP_Send_File_From_File(device, local.c_str(), file, nullptr, nullptr);
        LIBMTP_destroy_file_t(file);
        return rc;
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

TEST_F(EmulatedPhoneTest, TransfersAreByteIdenticalAcrossTheFramingBoundaries)
{
    // Empty, one short packet, containers (12-byte header plus data) of exactly one and two
    // packets, libmtp's 16 KiB read chunks, and a larger odd size.
    const size_t sizes[] = {0, 1, 500, 1012, 16384 - 12, 16384, 3 * 16384 + 7, (1 << 20) + 3};
    std::map<std::string, std::string> files = {{"Up/", ""}};
    for (size_t size : sizes)
        files["f" + std::to_string(size)] = randomBytes(size);
    EmulatedPhone& phone = plugPhone(files);
    MtpDevice device = open();
    ASSERT_TRUE(device);
    const auto top = list(device.get(), EmulatedPhone::storageId(0), 0xFFFFFFFF);
    const uint32_t up = top.at(0).id; // "Up" sorts first
    for (const Entry& entry : top) {
        if (entry.folder)
            continue;
        SCOPED_TRACE(entry.name);
        const auto local = tempFolder() / entry.name;
        ASSERT_EQ(LIBMTP_Get_File_To_File(device.get(), entry.id, local.c_str(), nullptr, nullptr),
                  0);
        EXPECT_EQ(entry.size, files[entry.name].size());
        EXPECT_TRUE(readFile(local) == files[entry.name]);
        ASSERT_EQ(upload(device.get(), local, up), 0);
        EXPECT_TRUE(readFile(phone.storageFolder() / "Up" / entry.name) == files[entry.name]);
    }
    // The top folder is 0xFFFFFFFF.
    writeFile(tempFolder() / "top.bin", "top");
    ASSERT_EQ(upload(device.get(), tempFolder() / "top.bin", 0xFFFFFFFF), 0);
    EXPECT_EQ(readFile(phone.storageFolder() / "top.bin"), "top");
}

TEST_F(EmulatedPhoneTest, FolderOperationsFollowAndroid)
{
    EmulatedPhone& phone = plugPhone({{"Music/a.mp3", "a"}, {"Music/b.mp3", "b"}, {"x.txt", "x"}});
    const std::filesystem::path root = phone.storageFolder();
    MtpDevice device = open();
    ASSERT_TRUE(device);
    const uint32_t storage = EmulatedPhone::storageId(0);
    char name[] = "New";

    // Parent 0 is not an object on Android: only 0xFFFFFFFF means the top folder.
    EXPECT_EQ(LIBMTP_Create_Folder(device.get(), name, 0, storage), 0u);
    EXPECT_EQ(phone.trace().back().response, MtpResponse::InvalidObjectHandle);
    const uint32_t created = LIBMTP_Create_Folder(device.get(), name, 0xFFFFFFFF, storage);
    EXPECT_NE(created, 0u);
    EXPECT_TRUE(std::filesystem::is_directory(root / "New"));
    EXPECT_EQ(LIBMTP_Create_Folder(device.get(), name, 0xFFFFFFFF, storage), 0u);
    EXPECT_EQ(phone.trace().back().response, MtpResponse::GeneralError);

    auto top = list(device.get(), storage, 0xFFFFFFFF);
    ASSERT_EQ(top.size(), 3u); // Music, New, x.txt
    const auto music = list(device.get(), storage, top[0].id);
    LIBMTP_file_t* folder = LIBMTP_Get_Filemetadata(device.get(), top[0].id);
    ASSERT_NE(folder, nullptr);
    EXPECT_NE(LIBMTP_Set_File_Name(device.get(), folder, "New"), 0); // taken
    EXPECT_EQ(LIBMTP_Set_File_Name(device.get(), folder, "Songs"), 0);
    LIBMTP_destroy_file_t(folder);
    EXPECT_TRUE(std::filesystem::exists(root / "Songs/b.mp3"));
    EXPECT_EQ(list(device.get(), storage, top[0].id).at(1).id,
              music.at(1).id); // handles survive the rename

    EXPECT_EQ(LIBMTP_Delete_Object(device.get(), top[0].id), 0);
    EXPECT_FALSE(std::filesystem::exists(root / "Songs"));
    EXPECT_NE(LIBMTP_Delete_Object(device.get(), top[0].id), 0);
    EXPECT_EQ(list(device.get(), storage, 0xFFFFFFFF).size(), 2u);
}

} // namespace
} // namespace qb
