// GoogleTest fixture for tests that talk to the emulated phone (see emulated_phone.h).
#pragma once

#include "emulated_phone.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qb {

class PhoneTest : public ::testing::Test
{
protected:
    // Fails the test at once when this process's libusb (or libmtp's) is not the stand-in.
    void SetUp() override;
    // Unplugs every phone and removes the temporary folders.
    void TearDown() override;

    // Plugs in a phone whose internal storage holds `files`: relative path to content; a path
    // ending in '/' is an empty folder. With `sdCard`, a second (empty, removable) storage too.
    // Product 0x4ee1 (plain MTP) makes libmtp read object properties in lists and keep them.
    EmulatedPhone& plugPhone(const std::map<std::string, std::string>& files = {},
                             bool sdCard = false, uint16_t productId = 0x4ee2);
    // A temporary folder for the test's own local files.
    const std::filesystem::path& tempFolder() const { return m_root; }

    static std::string readFile(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void writeFile(const std::filesystem::path& path, const std::string& content)
    {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

private:
    std::filesystem::path m_root;
    std::vector<std::unique_ptr<EmulatedPhone>> m_phones;
};

} // namespace qb
