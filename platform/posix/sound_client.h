#pragma once

// The hour's sound on Linux is played by a short-lived helper program, velmorin-sound, beside
// the executable: the copy that ticks maps no sound library, and the memory that playing costs
// goes back to the system when the helper ends. This is the copy's side of it; it also gives the
// tick loop its core::PrepareSound, which starts the helper a few seconds before each hour.

#include "platform/platform.h"

#include <string>

namespace platform::posix {

// PlaySoundA's request, handed to the helper (started if it is not running). False when the
// flags ask for something the helper does not offer (only asynchronous play of a file).
bool RequestSound(const char* sound, std::uint32_t flags);

// Collects a helper that has ended, so that none is left as a zombie.
void ReapSoundHelper();

} // namespace platform::posix
