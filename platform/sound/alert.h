#pragma once

#include <string>

namespace platform::sound {

// The default sound, played when a sound file is missing or cannot be decoded: two soft bell
// notes, a fifth apart, as a WAV image, so that it goes through the same decoding as any file.
const std::string& AlertWave();

} // namespace platform::sound
