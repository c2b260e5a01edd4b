#pragma once

#include <string>
#include <string_view>

// A file in a program folder: the folder, the platform's separator and the name, as the program
// names it ("Velmorin.ini", "03.WAV", "ABOUT.MID"). The separator is always added, so a program
// folder at the root gives a doubled one, which names the same file.
std::string ProgramFileIn(const std::string& folder, std::string_view name);
// A file beside this program.
std::string ProgramFile(std::string_view name);
// The hour's sound file: one per hour of the 12-hour dial, 00.WAV for 0 and 12 o'clock.
std::string HourSoundPath(int hour);
// A quarter's sound: QUARTER1.WAV at 15 minutes past, QUARTER2.WAV at 30, QUARTER3.WAV at 45;
// named so that nobody takes one for an hour's file.
std::string QuarterSoundPath(int minute);
