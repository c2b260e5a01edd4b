// Any bytes as a settings file: read the quit request, write it, read it back, remove it. Every
// write must succeed, the value be read back as written, and another section's value stay as
// it was.

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

// A folder of the run's own, removed when the fuzzer exits. Every write ends in fsync; in
// memory that costs nothing, so the fuzzer runs at speed.
struct Scratch {
    std::filesystem::path folder = std::filesystem::path("/dev/shm") /
                                   ("velmorin-fuzz-" + std::to_string(std::random_device()()));
    std::string settings = (folder / "Velmorin.ini").string();

    Scratch() { std::filesystem::create_directories(folder); }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

const std::string& SettingsPath() {
    static const Scratch scratch;
    return scratch.settings;
}

std::string Get(const char* section, const char* key) {
    char buffer[16];
    const std::uint32_t length = platform::GetPrivateProfileStringA(
        section, key, "default", buffer, sizeof buffer, SettingsPath().c_str());
    if (length >= sizeof buffer || buffer[length] != '\0') {
        std::abort();
    }
    return std::string(buffer, length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = SettingsPath();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    Get("Form", "Quit");
    const std::string other = Get("Other", "Keep");
    if (!platform::WritePrivateProfileStringA("Form", "Quit", "1", path.c_str())) {
        std::fprintf(stderr, "write refused: %s\n", platform::LastErrorText().c_str());
        std::abort();
    }
    // The value reads back as written, and removing the key and then the section touches no
    // other section.
    if (Get("Form", "Quit") != "1" || Get("Other", "Keep") != other ||
        !platform::WritePrivateProfileStringA("Form", "Quit", nullptr, path.c_str()) ||
        Get("Other", "Keep") != other ||
        !platform::WritePrivateProfileStringA("Form", nullptr, nullptr, path.c_str()) ||
        Get("Other", "Keep") != other) {
        std::abort();
    }
    return 0;
}
