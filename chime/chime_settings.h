#pragma once

// The [Chime] section of the settings file: the hours whose chimes are skipped (Quiet), no chime
// while the user is busy (Busy) and the chime's own volume (Volume). The keys are read afresh at
// every hour, so an edit counts from the next hour; a key that is absent or cannot be read keeps
// the program as it always was.

#include "platform/platform.h"

#include <optional>

// The volume, in percent of the sound's own level, at which this hour's sound plays, or nothing
// when the hour is skipped. The first chime of an hour decides and the second keeps that
// decision (Module1::State().hour_chime), so a skipped hour is skipped whole.
std::optional<int> HourChimeVolume(const platform::TimeOfDay& now);
