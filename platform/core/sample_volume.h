#pragma once

// The chime's own volume, applied to the samples themselves so that the system's volume and
// every other program's sound stay as they are. Pure and header-only: the Linux sound path and
// the Windows backend scale with the same code.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace platform::core {

// Scales PCM samples in place to `percent` of their level (0 to 100, linear in the amplitude):
// 16-bit samples are signed little-endian, as in WAV files and SDL's AUDIO_S16LSB; 8-bit
// samples are unsigned around 128, as in WAV files. Other sample sizes are left as they are.
inline void ScaleSamples(std::uint8_t* data, std::size_t bytes, int bits_per_sample, int percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == 100) {
        return;
    }
    if (bits_per_sample == 8) {
        for (std::size_t i = 0; i < bytes; ++i) {
            data[i] = static_cast<std::uint8_t>(128 + (data[i] - 128) * percent / 100);
        }
    } else if (bits_per_sample == 16) {
        for (std::size_t i = 0; i + 1 < bytes; i += 2) {
            const auto sample = static_cast<std::int16_t>(data[i] | data[i + 1] << 8);
            const auto scaled = static_cast<std::uint16_t>(sample * percent / 100);
            data[i] = static_cast<std::uint8_t>(scaled & 0xff);
            data[i + 1] = static_cast<std::uint8_t>(scaled >> 8);
        }
    }
}

} // namespace platform::core
