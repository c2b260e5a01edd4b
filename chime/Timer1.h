#pragma once

#include <string>

// The host window's 800 ms tick: polls the quit request, chimes at the start of the hour and, when
// the user asked for them, at the quarters.
void Timer1_Timer();

// The hour's sound file: one per hour of the 12-hour dial, 00.WAV for 0 and 12 o'clock.
std::string HourSoundPath(int hour);
// A quarter's sound: QUARTER1.WAV at 15 minutes past, QUARTER2.WAV at 30, QUARTER3.WAV at 45;
// named so that nobody takes one for an hour's file.
std::string QuarterSoundPath(int minute);
