#pragma once

// The check a tune passes before it is handed to FluidSynth, kept apart from the synthesizer so
// that it can be fuzzed on its own.

#include <span>

namespace platform::sound {

enum class TuneCheck { Playable, Silent, Broken };

// Reads the file the way FluidSynth will, so that a damaged or empty tune is refused at open
// rather than failing quietly during play. A RIFF "RMID" file is unwrapped: `smf` is left on
// the standard MIDI file inside it.
TuneCheck CheckTune(std::span<const unsigned char>& smf);

} // namespace platform::sound
