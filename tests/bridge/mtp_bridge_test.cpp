// The bridge end to end: the real libmtp against the emulated phone. Listing, transfers and
// changes through it are covered by the MTPClient and repository tests.
#include "bridge/mtp_bridge.h"
#include "phone/phone_test.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>

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

// Guards against a folder being measured as a file (INT64_MAX on ext4) and offered to the phone:
// nothing but a plain file reaches the phone, and a plain file goes with its real size.
TEST_F(MTPBridgeTest, UploadsRefuseWhatIsNotAFileBeforeThePhoneIsAsked)
{
    EmulatedPhone& phone = plugPhone({{"DCIM/", ""}});
    mtp_bridge_handle* h = mtp_bridge_open_device(deviceId(phone).c_str());
    ASSERT_NE(h, nullptr);
    const std::filesystem::path folder = tempFolder() / "Holiday";
    std::filesystem::create_directories(folder);
    EXPECT_EQ(
        mtp_bridge_upload_file(h, folder.c_str(), EmulatedPhone::storageId(), 0, nullptr, nullptr),
        MTP_BRIDGE_NOT_A_FILE);
    EXPECT_STREQ(mtp_bridge_last_error(h), "Is a folder");
    const std::filesystem::path pipe = tempFolder() / "feed";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(
        mtp_bridge_upload_file(h, pipe.c_str(), EmulatedPhone::storageId(), 0, nullptr, nullptr),
        MTP_BRIDGE_NOT_A_FILE);
    EXPECT_STREQ(mtp_bridge_last_error(h), "Not a regular file");
    EXPECT_EQ(phone.count(MtpOperation::SendObjectInfo), 0);

    writeFile(tempFolder() / "notes.txt", std::string(70000, 'n'));
    uint64_t lastTotal = 0;
    auto progress = [](uint64_t, uint64_t total, void* context) {
        *static_cast<uint64_t*>(context) = total;
        return int32_t(0);
    };
    EXPECT_EQ(mtp_bridge_upload_file(h, (tempFolder() / "notes.txt").c_str(),
                                     EmulatedPhone::storageId(), 0, progress, &lastTotal),
              0);
    EXPECT_EQ(readFile(phone.storageFolder() / "notes.txt").size(), 70000u);
    EXPECT_GE(lastTotal, 70000u);
    EXPECT_LT(lastTotal, 70100u);
    mtp_bridge_close_device(h);
}

// Guards against a look-up before every download, which costs each file of a batch more round
// trips to the phone; a folder still fails saying what it is, and leaves no file.
TEST_F(MTPBridgeTest, DownloadsAddNoRoundTripsAndAFolderSaysWhatItIs)
{
    EmulatedPhone& phone = plugPhone({{"DCIM/", ""}, {"a.txt", "hello"}});
    mtp_bridge_handle* h = mtp_bridge_open_device(deviceId(phone).c_str());
    ASSERT_NE(h, nullptr);
    int32_t count = 0;
    auto* files = mtp_bridge_list_files(h, EmulatedPhone::storageId(), 0, &count);
    ASSERT_EQ(count, 2);
    const uint32_t dcim = files[files[0].is_folder ? 0 : 1].object_id;
    const uint32_t file = files[files[0].is_folder ? 1 : 0].object_id;
    mtp_bridge_free(files);
    const std::string target = (tempFolder() / "a").string();
    const int asked = phone.count(MtpOperation::GetObjectPropValue);
    EXPECT_EQ(mtp_bridge_download_file(h, file, target.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(phone.count(MtpOperation::GetObjectPropValue), asked + 1); // libmtp's own
    const std::string folder = (tempFolder() / "DCIM").string();
    EXPECT_EQ(mtp_bridge_download_file(h, dcim, folder.c_str(), nullptr, nullptr),
              MTP_BRIDGE_NOT_A_FILE);
    EXPECT_STREQ(mtp_bridge_last_error(h), "Is a folder");
    EXPECT_FALSE(std::filesystem::exists(folder));
    mtp_bridge_close_device(h);
}

// Guards against a phone's short or overlong data taken for the file: the download fails saying
// so and leaves no file, and a phone that keeps sending is cut off long before it ends.
TEST_F(MTPBridgeTest, ADownloadOfAnotherSizeThanAnnouncedFailsAndLeavesNoFile)
{
    EmulatedPhone& phone = plugPhone({{"big.bin", std::string(100000, 'b')},
                                      {"empty.txt", std::string(5000, 'e')},
                                      {"small.txt", std::string(1000, 's')}});
    // 96 MiB, whose 64th is past the 1 MiB floor; sparse, so it costs no disk.
    constexpr uint64_t kHuge = 96ull << 20;
    std::filesystem::resize_file(
        (std::ofstream(phone.storageFolder() / "huge.bin"), phone.storageFolder() / "huge.bin"),
        kHuge);
    mtp_bridge_handle* h = mtp_bridge_open_device(deviceId(phone).c_str());
    ASSERT_NE(h, nullptr);
    int32_t count = 0;
    auto* files = mtp_bridge_list_files(h, EmulatedPhone::storageId(), 0, &count);
    ASSERT_EQ(count, 4); // by name
    const uint32_t big = files[0].object_id, empty = files[1].object_id, huge = files[2].object_id,
                   small = files[3].object_id;
    mtp_bridge_free(files);
    const std::string target = (tempFolder() / "out").string();
    // Another count than announced is left for the caller to judge, with the bytes it holds.
    const auto download = [&](uint32_t object, uint64_t sent) {
        phone.sendObjectBytes(sent);
        const int32_t rc = mtp_bridge_download_file(h, object, target.c_str(), nullptr, nullptr);
        if (rc == MTP_BRIDGE_SIZE_MISMATCH) {
            EXPECT_EQ(std::filesystem::file_size(target), sent);
            EXPECT_EQ(h->received_bytes, sent);
            std::filesystem::remove(target);
        }
        EXPECT_FALSE(std::filesystem::exists(target));
        return rc == 0 ? std::string("succeeded") : std::string(mtp_bridge_last_error(h));
    };
    EXPECT_EQ(download(big, 50000), "received only 50000 of the 100000 bytes the phone announced");
    EXPECT_EQ(download(empty, 0), "received only 0 of the 5000 bytes the phone announced");
    EXPECT_EQ(download(small, 1010), "received 1010 bytes where the phone announced 1000");
    // The stop comes past the announced size plus the larger of 1 MiB and a 64th of the size.
    EXPECT_EQ(download(small, 1000 + (1 << 20)),
              "received 1049576 bytes where the phone announced 1000");
    EXPECT_EQ(download(small, 1000 + (1 << 20) + 1),
              "the phone sent more than the 1000 bytes it announced");
    EXPECT_EQ(download(huge, kHuge + kHuge / 64),
              "received 102236160 bytes where the phone announced 100663296");
    EXPECT_EQ(download(huge, kHuge + kHuge / 64 + 1),
              "the phone sent more than the 100663296 bytes it announced");
    // Read to its end, the cable "pulled" at 8 MiB would fail it otherwise.
    phone.disconnectAfterBytes(8 << 20);
    EXPECT_EQ(download(small, 200000000), "the phone sent more than the 1000 bytes it announced");

    phone.sendObjectBytes(std::nullopt);
    EXPECT_EQ(mtp_bridge_download_file(h, small, target.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(readFile(target), std::string(1000, 's'));
    mtp_bridge_close_device(h);
}

// Changes the file being sent from libmtp's progress report on the sending thread, so that each
// change lands at a known point of the transfer: each step once, at its count of bytes sent.
struct ChangeMidUpload
{
    std::vector<std::pair<uint64_t, std::function<void()>>> steps;

    static int32_t report(uint64_t sent, uint64_t, void* context)
    {
        auto& steps = static_cast<ChangeMidUpload*>(context)->steps;
        while (!steps.empty() && sent >= steps.front().first) {
            const auto step = std::move(steps.front().second);
            steps.erase(steps.begin());
            step();
        }
        return 0;
    }
};

// Guards against libmtp's own reader, which asks again for ever at an early end of file (the
// upload spun and held the phone), and against a file written to while it is sent arriving as
// its old bytes then its new ones. Both fail and leave nothing, even on a phone that keeps
// broken-off uploads; a file replaced by a rename, renamed, chmod-ed or appended to arrives as it
// was.
TEST_F(MTPBridgeTest, AFileThatShrinksOrIsWrittenToWhileSentFailsAndLeavesNothing)
{
    namespace fs = std::filesystem;
    EmulatedPhone& phone = plugPhone();
    phone.keepBrokenUploads(true);
    mtp_bridge_handle* h = mtp_bridge_open_device(deviceId(phone).c_str());
    ASSERT_NE(h, nullptr);
    const std::string before(1 << 20, 'a'), after(1 << 20, 'b');
    // The upload's status, or nothing when it has not ended 10 s after the change; `later`
    // comes a quarter of the file after `change`.
    using Change = std::function<void(const fs::path&)>;
    const auto send = [&](const std::string& name, Change change, Change later = nullptr) {
        const fs::path file = tempFolder() / name;
        writeFile(file, before);
        // Saved a while ago, as files usually are, so a rewrite shows in the time whatever the
        // clock's granularity.
        fs::last_write_time(file, fs::last_write_time(file) - std::chrono::hours(1));
        ChangeMidUpload midway{{{256 << 10, [&] {
                                     change(file);
                                 }}}};
        if (later)
            midway.steps.push_back({512 << 10, [&] {
                                        later(file);
                                    }});
        std::promise<int32_t> result;
        std::future<int32_t> ended = result.get_future();
        std::thread sender([&] {
            result.set_value(mtp_bridge_upload_file(h, file.c_str(), EmulatedPhone::storageId(), 0,
                                                    ChangeMidUpload::report, &midway));
        });
        const bool inTime = ended.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        if (!inTime)
            fs::resize_file(file, before.size()); // lets a reader stuck at the end go on
        sender.join();
        return inTime ? std::optional(ended.get()) : std::nullopt;
    };

    EXPECT_EQ(send("cut.mp4", [](const fs::path& file) { fs::resize_file(file, 100 << 10); }),
              MTP_BRIDGE_SOURCE_CHANGED);
    EXPECT_STREQ(mtp_bridge_last_error(h), "The file got shorter while it was being sent");
    EXPECT_EQ(send("in-place.bin",
                   [&](const fs::path& file) {
                       std::fstream(file, std::ios::in | std::ios::out | std::ios::binary) << after;
                   }),
              MTP_BRIDGE_SOURCE_CHANGED);
    EXPECT_STREQ(mtp_bridge_last_error(h), "The file changed while it was being sent");
    EXPECT_EQ(send("copied-over.bin",
                   [&](const fs::path& file) { std::ofstream(file, std::ios::binary) << after; }),
              MTP_BRIDGE_SOURCE_CHANGED);
    // A copy of a larger version, caught while it is still shorter than the file was: at its end
    // it would pass for growth.
    const auto copyStart = [&](const fs::path& file) {
        std::ofstream(file, std::ios::binary) << after.substr(0, 600 << 10);
    };
    const auto copyRest = [&](const fs::path& file) {
        std::ofstream(file, std::ios::app | std::ios::binary) << after << after;
    };
    EXPECT_EQ(send("copied-larger.bin", copyStart, copyRest), MTP_BRIDGE_SOURCE_CHANGED);
    EXPECT_TRUE(fs::is_empty(phone.storageFolder()));

    EXPECT_EQ(send("renamed-over.bin",
                   [&](const fs::path& file) {
                       writeFile(tempFolder() / "new.bin", after);
                       fs::rename(tempFolder() / "new.bin", file);
                   }),
              0);
    EXPECT_TRUE(readFile(phone.storageFolder() / "renamed-over.bin") == before);
    // Only the change time moves: the content is the one announced.
    EXPECT_EQ(send("renamed.bin",
                   [&](const fs::path& file) { fs::rename(file, tempFolder() / "moved.bin"); }),
              0);
    EXPECT_TRUE(readFile(phone.storageFolder() / "renamed.bin") == before);
    EXPECT_EQ(send("private.bin",
                   [](const fs::path& file) {
                       fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
                   }),
              0);
    EXPECT_TRUE(readFile(phone.storageFolder() / "private.bin") == before);
    EXPECT_EQ(send("growing.log",
                   [&](const fs::path& file) {
                       std::ofstream(file, std::ios::app | std::ios::binary) << after;
                   }),
              0);
    EXPECT_TRUE(readFile(phone.storageFolder() / "growing.log") == before);
    mtp_bridge_close_device(h);
}

// Guards against a listing whose item information the phone refused in part (as one that is
// locking answers "busy") being taken for the folder: libmtp then fills in zero sizes and says so
// only on its error stack.
TEST_F(MTPBridgeTest, AListingThePhoneAnsweredInPartIsNoFolder)
{
    EmulatedPhone& phone = plugPhone({{"DCIM/", ""}, {"Download/", ""}, {"ROOT1.txt", "12345"}});
    mtp_bridge_handle* h = mtp_bridge_open_device(deviceId(phone).c_str());
    ASSERT_NE(h, nullptr);
    const std::pair<MtpOperation, MtpResponse> refusals[] = {
        {MtpOperation::GetObjectPropValue, MtpResponse::DeviceBusy},
        {MtpOperation::GetObjectPropsSupported, MtpResponse::SessionNotOpen},
    };
    for (const auto& [operation, response] : refusals) {
        phone.failOperation(operation, 1, response);
        int32_t count = 99;
        EXPECT_EQ(mtp_bridge_list_files(h, EmulatedPhone::storageId(), 0, &count), nullptr);
        EXPECT_EQ(count, MTP_BRIDGE_LISTING_INCOMPLETE);
        EXPECT_STRNE(mtp_bridge_last_error(h), "");
        auto* files = mtp_bridge_list_files(h, EmulatedPhone::storageId(), 0, &count);
        ASSERT_EQ(count, 3);
        EXPECT_EQ(files[2].size, 5u); // ROOT1.txt, listed last
        mtp_bridge_free(files);
    }

    // libmtp leaves out an item whose object information was refused, without a trace: a folder
    // that seems empty is asked once more, and an empty one stays empty.
    std::filesystem::create_directories(phone.storageFolder() / "DCIM/Camera");
    int32_t count = 99;
    auto* dcim = mtp_bridge_list_files(h, EmulatedPhone::storageId(), 0, &count);
    ASSERT_EQ(count, 3);
    const uint32_t folder = dcim[0].object_id;
    mtp_bridge_free(dcim);
    phone.failOperation(MtpOperation::GetObjectInfo, 1, MtpResponse::DeviceBusy);
    auto* camera = mtp_bridge_list_files(h, EmulatedPhone::storageId(), folder, &count);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(camera[0].name, "Camera");
    const uint32_t empty = camera[0].object_id;
    mtp_bridge_free(camera);
    EXPECT_EQ(mtp_bridge_list_files(h, EmulatedPhone::storageId(), empty, &count), nullptr);
    EXPECT_EQ(count, 0);
    mtp_bridge_close_device(h);
}

} // namespace
} // namespace qb
