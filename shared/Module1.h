#pragma once

// The logic's state and the two sound functions every part of the program shares.

#include "shared/chime_keys.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Module1 {

// The decision for the hour or quarter that chimed last: its hour and minute, the volume it
// plays at, or nothing when it is skipped, and the language its hour is spoken in ("ja", "en"),
// empty when it is not spoken.
struct HourChime {
    int hour = -1;
    int minute = -1;
    std::optional<int> volume;
    std::string speak;
};

// Everything the logic keeps for the life of the process, in one place.
struct ProgramState {
    // The program folder followed by Velmorin.ini; set once at start-up.
    std::string settings_path;
    // 1 once the hour's sound was started; released at seconds 1 and 9 of every minute.
    std::int16_t chime_latch = 0;
    HourChime hour_chime;
    // The [Chime] keys as the settings window showed them when it opened: OK writes only those
    // the user changed since.
    ChimeChoices shown_choices;
};

ProgramState& State();
// The state of a process that has just started; for the tests, which start the logic many times
// in one process.
void Reset();

// Starts the wave file playing and returns at once; a new start replaces a sound still playing.
void PlayWave(const std::string& path);
// Sends one MCI command string; returns its reply, or MCI's error text when it fails.
std::string SendMciCommand(const std::string& command);

} // namespace Module1
