#pragma once

// The [Chime] section of the settings file: the hours whose chimes are skipped (Quiet), no chime
// while the user is busy (Busy), the chime's own volume (Volume), chimes at the quarters
// (Quarters) and the hour spoken after its chime (Speak). The keys are read afresh at every hour,
// and Quarters a few seconds before every quarter, so an edit counts from the next one; a key
// that is absent or cannot be read keeps the program as it always was.

#include "platform/platform.h"
#include "shared/Module1.h"

#include <optional>
#include <string>
#include <vector>

// Whether this hour or quarter chimes, at what volume, and whether its hour is spoken. The first
// chime of an hour decides and the second keeps that decision (Module1::State().hour_chime), so
// a skipped hour is skipped whole.
const Module1::HourChime& DecideChime(const platform::TimeOfDay& now);

// The minutes past the hour that Quarters= asks to chime at: 1 gives 15, 30 and 45; 30 the half
// hour alone; anything else none.
std::vector<int> QuarterMinutes();

// The words that say the hour, in "ja" (kana, as a speech synthesizer reads Japanese best) or
// "en": "It's three o'clock", "It's twelve noon", "It's midnight"; "ごご さんじ です" for 15
// o'clock, 午前0時 for midnight and 午後0時 for noon, as the telephone time signal says them.
std::string SpokenHour(int hour, std::string_view language);
