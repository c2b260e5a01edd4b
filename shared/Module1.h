#pragma once

// Process-wide state and the two sound functions every part of the program shares.

#include <cstdint>
#include <string>

namespace Module1 {

// The program folder followed by Velmorin.ini; set once at start-up.
extern std::string settings_path;
// 1 once the hour's sound was started; released at seconds 1 and 9 of every minute.
extern std::int16_t chime_latch;

// Starts the wave file playing and returns at once; a new start replaces a sound still playing.
void PlayWave(const std::string& path);
// Sends one MCI command string; returns its reply, or MCI's error text when it fails.
std::string SendMciCommand(const std::string& command);

} // namespace Module1
