// The profile tests' fixture: a folder of their own with Velmorin.ini in it, and the calls
// made the way the program makes them. Standard C++ only: the Windows build uses it too.

#pragma once

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace fs = std::filesystem;

using namespace std::string_literals;

// A file as Notepad saves it as "Unicode" (UTF-16LE) or "Unicode big endian", with a byte-order
// mark. `text` is ASCII.
inline std::string Utf16(const std::string& text, bool big_endian = false) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : text) {
        bytes += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return bytes;
}

class Profile : public testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("velmorin-profile-" + std::to_string(random()));
        ASSERT_TRUE(fs::create_directory(folder_));
        ini_ = (folder_ / "Velmorin.ini").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Reads the way the program does: a 16-byte buffer and the default "0".
    static std::string Get(const std::string& path, const char* section = "Form",
                           const char* key = "Quit") {
        char buffer[16] = {};
        const std::uint32_t length = platform::GetPrivateProfileStringA(
            section, key, "0", buffer, sizeof buffer, path.c_str());
        EXPECT_EQ(length, std::string(buffer).size());
        return buffer;
    }
    static bool Set(const std::string& path, const char* value, const char* section = "Form",
                    const char* key = "Quit") {
        return platform::WritePrivateProfileStringA(section, key, value, path.c_str());
    }
    // The files in the folder: a write leaves none of its own behind.
    std::ptrdiff_t Files() const { return std::distance(fs::directory_iterator(folder_), {}); }

    fs::path folder_;
    std::string ini_;
};
