// Any bytes as the About tune: the check that runs before FluidSynth sees the file must answer,
// and the standard MIDI file it finds must lie inside what it was given.

#include "platform/sound/midi_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const unsigned char> file(data, size);
    std::span<const unsigned char> smf = file;
    const auto verdict = platform::sound::CheckTune(smf);
    if (smf.data() < file.data() || smf.data() + smf.size() > file.data() + file.size() ||
        (verdict == platform::sound::TuneCheck::Playable && smf.size() < 14)) {
        std::abort();
    }
    return 0;
}
