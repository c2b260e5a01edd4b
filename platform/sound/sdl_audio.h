#pragma once

// SDL's audio output as the sound helper and the About tune both open it: signed 16-bit stereo,
// at 44.1 kHz unless the opener asks for another rate, filled by a callback on SDL's audio thread.

#include <cstdint>

namespace platform::sound {

inline constexpr int kOutputRate = 44100;
inline constexpr int kOutputChannels = 2;

// Called on SDL's audio thread to fill `bytes` of the output.
using FillFunction = void (*)(void* userdata, std::uint8_t* stream, int bytes);

// Starts SDL's audio subsystem if needed. False when no audio driver could be started.
// `drivers` is SDL's list of drivers to try, in order ("pipewire,pulseaudio"); null leaves the
// choice to SDL. SDL_AUDIODRIVER set by the user wins over either.
bool AcquireAudio(const char* drivers = nullptr);
void ReleaseAudio();

// A device of its own, paused, with buffers of `frames` at `rate`; 0 when none could be opened
// (no sound server, no device).
std::uint32_t OpenOutput(FillFunction fill, void* userdata, int frames, int rate = kOutputRate);

// The name of the audio driver SDL runs ("pulseaudio", "pipewire", ...), empty when none.
const char* AudioDriver();

} // namespace platform::sound
