#include "shared/chime_keys.h"

#include "platform/platform.h"
#include "shared/Module1.h"
#include "shared/number.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// A value that fills the buffer may have been cut, and a cut list can still look valid; such
// a value counts as unreadable. The Windows backend cuts at a character boundary, up to three
// bytes short of the end, hence the margin.
constexpr std::uint32_t kValueBytes = 256;
constexpr std::uint32_t kCutMargin = 4;

// One or two digits naming an hour of the day, 0 to 23.
std::optional<int> Hour(std::string_view text) {
    text = platform::Trim(text);
    if (text.empty() || text.size() > 2) {
        return std::nullopt;
    }
    int hour = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        hour = hour * 10 + (c - '0');
    }
    return hour < 24 ? std::optional(hour) : std::nullopt;
}

// The index of the value among the choices, compared without case and blanks; 0 when it is none
// of them.
template <std::size_t N> int ChoiceOf(std::string_view text, const char* const (&values)[N]) {
    text = platform::Trim(text);
    for (std::size_t i = 0; i < N; ++i) {
        const std::string_view value = values[i];
        if (value.size() == text.size() &&
            std::equal(value.begin(), value.end(), text.begin(), [](char a, char b) {
                return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
            })) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

} // namespace

std::string ReadChimeKey(const char* key) {
    char buffer[kValueBytes] = {};
    const std::uint32_t length = platform::GetPrivateProfileStringA(
        "Chime", key, "", buffer, sizeof buffer, Module1::State().settings_path.c_str());
    return length + kCutMargin >= sizeof buffer ? std::string() : std::string(buffer, length);
}

bool WriteChimeKey(const char* key, const std::string& value) {
    return platform::WritePrivateProfileStringA("Chime", key, value.c_str(),
                                                Module1::State().settings_path.c_str());
}

// A range runs from its first hour up to but not including its last, wrapping past midnight; one
// whose ends are equal wraps all the way round. Anything else makes the whole list unreadable.
std::bitset<24> QuietHours(std::string_view text) {
    std::bitset<24> quiet;
    if (platform::Trim(text).empty()) {
        return quiet;
    }
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const std::size_t dash = item.find('-');
        const std::optional<int> first = Hour(item.substr(0, dash));
        const std::optional<int> last =
            dash == std::string_view::npos ? first : Hour(item.substr(dash + 1));
        if (!first || !last) {
            return {};
        }
        int hour = *first;
        do {
            quiet.set(static_cast<std::size_t>(hour));
            hour = (hour + 1) % 24;
        } while (hour != *last && dash != std::string_view::npos);
        if (comma == std::string_view::npos) {
            return quiet;
        }
        text.remove_prefix(comma + 1);
    }
}

// Each run of quiet hours starts at an hour whose previous hour chimes, so a run through
// midnight is one range ("22-7"); a lone hour is written alone ("12").
std::string QuietHoursText(const std::bitset<24>& quiet) {
    if (quiet.all()) {
        return "0-0";
    }
    std::string text;
    for (int first = 0; first < 24; ++first) {
        if (!quiet[static_cast<std::size_t>(first)] ||
            quiet[static_cast<std::size_t>((first + 23) % 24)]) {
            continue;
        }
        int end = (first + 1) % 24;
        while (quiet[static_cast<std::size_t>(end)]) {
            end = (end + 1) % 24;
        }
        // Appended piece by piece: GCC 12 misreads "," + std::to_string(...) as an overlapping
        // copy and warns.
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(first);
        if (end != (first + 1) % 24) {
            text += '-';
            text += std::to_string(end);
        }
    }
    return text;
}

bool BusyWanted(std::string_view text) {
    const std::optional<double> busy = TextToNumber(text);
    return busy && *busy == 1;
}

int ChimeVolume(std::string_view text) {
    const std::optional<double> volume = TextToNumber(text);
    if (volume && *volume >= 0 && *volume <= 100 && std::floor(*volume) == *volume) {
        return static_cast<int>(*volume);
    }
    return 100;
}

ChimeChoices ReadChimeChoices() {
    return {
        .quiet = QuietHours(ReadChimeKey("Quiet")),
        .busy = BusyWanted(ReadChimeKey("Busy")),
        .volume = ChimeVolume(ReadChimeKey("Volume")),
        .quarters = ChoiceOf(ReadChimeKey("Quarters"), kQuartersValues),
        .speak = ChoiceOf(ReadChimeKey("Speak"), kSpeakValues),
    };
}

bool WriteChangedChoices(const ChimeChoices& before, const ChimeChoices& after) {
    return (before.quiet == after.quiet || WriteChimeKey("Quiet", QuietHoursText(after.quiet))) &&
           (before.busy == after.busy || WriteChimeKey("Busy", after.busy ? "1" : "0")) &&
           (before.volume == after.volume ||
            WriteChimeKey("Volume", std::to_string(after.volume))) &&
           (before.quarters == after.quarters ||
            WriteChimeKey("Quarters", kQuartersValues[after.quarters])) &&
           (before.speak == after.speak || WriteChimeKey("Speak", kSpeakValues[after.speak]));
}
