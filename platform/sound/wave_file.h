#pragma once

// The bytes of a 16-bit mono PCM WAV file. The built-in alert, the hour sounds made at build
// time and the sound tests all write this one layout, so it lives in a header that the host
// tools can include without linking anything.

#include <cstdint>
#include <string>
#include <vector>

namespace platform::sound {

inline std::string WaveFile(const std::vector<std::int16_t>& samples, std::uint32_t rate_hz) {
    std::string bytes;
    auto put = [&bytes](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) {
            bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
        }
    };
    const auto data_bytes = static_cast<std::uint32_t>(samples.size() * 2);
    bytes.reserve(44 + data_bytes);
    bytes += "RIFF";
    put(36 + data_bytes, 4);
    bytes += "WAVEfmt ";
    put(16, 4);
    put(1, 2); // PCM
    put(1, 2); // mono
    put(rate_hz, 4);
    put(rate_hz * 2, 4);
    put(2, 2);
    put(16, 2);
    bytes += "data";
    put(data_bytes, 4);
    for (std::int16_t sample : samples) {
        put(static_cast<std::uint16_t>(sample), 2);
    }
    return bytes;
}

} // namespace platform::sound
