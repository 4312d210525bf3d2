#include "phone_test.h"

#include <cstdlib>

namespace fs = std::filesystem;

// libmtp 1.1.20 leaks on its error paths (a failed read's buffer, a failed open's converters, a
// renamed file's new name): tests that drive those paths would always fail under LeakSanitizer.
// Leaks of the objects libmtp hands out are ours to avoid; RAII holders guard against them.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libmtp.so.9\nleak:iconv_open\n";
}

namespace qb {

void PhoneTest::SetUp()
{
    ASSERT_TRUE(EmulatedPhone::standInLoaded())
        << "libusb-1.0.so.0 is not the emulated phone's stand-in, so libmtp would talk to real "
           "USB: build this test with qb_add_test(... PHONE)";
    std::string pattern = (fs::temp_directory_path() / "qb-phone-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
}

void PhoneTest::TearDown()
{
    m_phones.clear();
    std::error_code error;
    if (!m_root.empty())
        fs::remove_all(m_root, error);
}

EmulatedPhone& PhoneTest::plugPhone(const std::map<std::string, std::string>& files, bool sdCard,
                                    uint16_t productId)
{
    const std::string number = std::to_string(m_phones.size() + 1);
    PhoneLayout layout;
    layout.productId = productId;
    layout.serial = "QB000" + number;
    layout.storages.push_back({m_root / ("phone" + number) / "internal"});
    if (sdCard)
        layout.storages.push_back(
            {m_root / ("phone" + number) / "sdcard", "SD card", 32ull << 30, true});
    for (const StorageLayout& storage : layout.storages)
        fs::create_directories(storage.folder);
    for (const auto& [path, content] : files) {
        const fs::path target = layout.storages[0].folder / path;
        if (!path.empty() && path.back() == '/')
            fs::create_directories(target);
        else
            writeFile(target, content);
    }
    m_phones.push_back(std::make_unique<EmulatedPhone>(std::move(layout)));
    return *m_phones.back();
}

} // namespace qb
