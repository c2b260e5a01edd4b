#pragma once

#include <string>

// The host window's 800 ms tick: polls the quit request, chimes at the start of the hour.
void Timer1_Timer();

// The hour's sound file: one per hour of the 12-hour dial, 00.WAV for 0 and 12 o'clock.
std::string HourSoundPath(int hour);
