#pragma once

// The [Chime] section of the settings file: the hours whose chimes are skipped (Quiet), no chime
// while the user is busy (Busy) and the chime's own volume (Volume). The keys are read afresh at
// every hour, so an edit counts from the next hour; a key that is absent or cannot be read keeps
// the program as it always was.

#include "platform/platform.h"

#include <optional>

// The volume, in percent of the sound's own level, at which this hour's sound plays, or nothing
// when the hour is skipped. The first chime of an hour decides and the second keeps that
// decision, so a skipped hour is skipped whole.
std::optional<int> HourChimeVolume(const platform::TimeOfDay& now);

// The decision for the hour that chimed last; process-wide, like the chime latch.
struct HourChime {
    int hour = -1;
    std::optional<int> volume;
};
extern HourChime hour_chime;
