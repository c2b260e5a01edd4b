// Any MCI command strings, one a line, against the recording sequencer: every command gets a
// result, and the reply and error text stay inside the buffers they are given.

#include "platform/fake/fake_sequencer.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte sets the size of the reply buffer, so short buffers are met too.
    const std::size_t reply_size = data[0] % 64;
    std::string_view commands(reinterpret_cast<const char*>(data + 1), size - 1);
    while (!commands.empty()) {
        const std::size_t end = std::min(commands.find('\n'), commands.size());
        const std::string command(commands.substr(0, end));
        commands.remove_prefix(std::min(end + 1, commands.size()));

        std::vector<char> reply(reply_size + 1, '#');
        const std::uint32_t result =
            platform::mciSendStringA(command.c_str(), reply_size == 0 ? nullptr : reply.data(),
                                     static_cast<std::uint32_t>(reply_size), nullptr);
        if (reply[reply_size] != '#' ||
            (reply_size > 0 && std::memchr(reply.data(), '\0', reply_size) == nullptr &&
             reply[0] != '#')) {
            std::abort();
        }
        std::vector<char> text(reply_size + 1, '#');
        platform::mciGetErrorStringA(result, text.data(), static_cast<std::uint32_t>(reply_size));
        if (text[reply_size] != '#') {
            std::abort();
        }
    }
    platform::mciSendStringA("close all", nullptr, 0, nullptr);
    fake::SequencerCalls().clear();
    return 0;
}
