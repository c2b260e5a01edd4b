#pragma once

// The [Chime] keys of the settings file, read and written the same way by the tick, which
// follows them, and by the settings window, which shows and changes them. A value that cannot be
// read counts as the key's default.

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>

// The key's value, or the empty text when it is absent, empty or too long to be read whole.
std::string ReadChimeKey(const char* key);
// False when the value could not be written; platform::LastErrorText() says why.
bool WriteChimeKey(const char* key, const std::string& value);

// Hours and ranges separated by commas, such as "22-7" or "0-6,12,22-23"; nothing is quiet when
// the list cannot be read.
std::bitset<24> QuietHours(std::string_view text);
// The hours as QuietHours reads them back, ranges where hours follow each other.
std::string QuietHoursText(const std::bitset<24>& quiet);
// Busy=1: no chime while the user is busy.
bool BusyWanted(std::string_view text);
// The hour's volume in percent, 100 unless the text is a whole number from 0 to 100.
int ChimeVolume(std::string_view text);

// The choices the settings window offers for Quarters= and Speak=, in its order, with the
// value each writes. A value that is none of them shows as the first.
inline constexpr const char* kQuartersValues[] = {"0", "1", "30"};
inline constexpr const char* kSpeakValues[] = {"0", "1", "ja", "en"};

// Every [Chime] key as the settings window shows it.
struct ChimeChoices {
    std::bitset<24> quiet;
    bool busy = false;
    int volume = 100;
    int quarters = 0; // an index into kQuartersValues
    int speak = 0;    // an index into kSpeakValues
};

ChimeChoices ReadChimeChoices();
// Writes the keys whose choice differs from `before` and only those, so a value the program
// cannot read stays in the file until the user changes that setting. False at the first key that
// could not be written; platform::LastErrorText() says why.
bool WriteChangedChoices(const ChimeChoices& before, const ChimeChoices& after);
