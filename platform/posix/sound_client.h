#pragma once

// The hour's sound on Linux is played by a short-lived helper program, velmorin-sound, beside
// the executable: the copy that ticks maps no sound library, and the memory that playing costs
// goes back to the system when the helper ends. This is the copy's side of it.

#include "platform/platform.h"

#include <string>

namespace platform::posix {

// PlaySoundA's request, handed to the helper (started if it is not running). False when the
// flags ask for something the helper does not offer (only asynchronous play of a file).
bool RequestSound(const char* sound, std::uint32_t flags);

// Called on every tick: a few seconds before each full hour the helper is started and opens
// the output, so that the hour's sound reaches the speakers the moment it is asked for.
void KeepSoundReady(const TimeOfDay& now);

// Collects a helper that has ended, so that none is left as a zombie.
void ReapSoundHelper();

} // namespace platform::posix
