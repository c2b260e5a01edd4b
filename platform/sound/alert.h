#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::sound {

// The default sound, played when a sound file is missing or cannot be decoded: two soft bell
// notes, a fifth apart, as a WAV image, so that it goes through the same decoding as any file.
const std::string& AlertWave();

// Sets the level of a sound, 0 to 100 percent of its samples (a linear scale: 25 gives a
// quarter of the amplitude).
void ScaleSamples(std::vector<std::int16_t>& samples, int percent);

} // namespace platform::sound
