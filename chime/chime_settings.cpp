#include "chime/chime_settings.h"

#include "shared/Module1.h"
#include "shared/number.h"

#include <bitset>
#include <cmath>
#include <string>
#include <string_view>

namespace {

// A value that fills the buffer may have been cut, and a cut list can still look valid; such
// a value counts as unreadable. The Windows backend cuts at a character boundary, up to three
// bytes short of the end, hence the margin.
constexpr std::uint32_t kValueBytes = 256;
constexpr std::uint32_t kCutMargin = 4;

// The key's value, or the empty text when it is absent, empty or too long to be read whole.
std::string ReadChimeKey(const char* key) {
    char buffer[kValueBytes] = {};
    const std::uint32_t length = platform::GetPrivateProfileStringA(
        "Chime", key, "", buffer, sizeof buffer, Module1::State().settings_path.c_str());
    return length + kCutMargin >= sizeof buffer ? std::string() : std::string(buffer, length);
}

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

// Hours and ranges separated by commas, such as "22-7" or "0-6,12,22-23". A range runs from its
// first hour up to but not including its last, wrapping past midnight; one whose ends are equal
// wraps all the way round. Anything else makes the whole list unreadable: nothing is quiet.
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

std::optional<int> DecideVolume(int hour) {
    if (QuietHours(ReadChimeKey("Quiet"))[static_cast<std::size_t>(hour)]) {
        return std::nullopt;
    }
    // The desktop is asked only when the user opted in: the question may take a while.
    const std::optional<double> busy = TextToNumber(ReadChimeKey("Busy"));
    if (busy && *busy == 1 && platform::UserIsBusy()) {
        return std::nullopt;
    }
    const std::optional<double> volume = TextToNumber(ReadChimeKey("Volume"));
    if (volume && *volume >= 0 && *volume <= 100 && std::floor(*volume) == *volume) {
        return static_cast<int>(*volume);
    }
    return 100;
}

// "1" speaks in the user's language, "ja" and "en" choose one; anything else is silence.
std::string SpeakLanguage() {
    const std::string value(platform::Trim(ReadChimeKey("Speak")));
    const std::optional<double> number = TextToNumber(value);
    if (number && *number == 1) {
        return platform::UserLanguageIsJapanese() ? "ja" : "en";
    }
    std::string lower;
    for (char c : value) {
        lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return lower == "ja" || lower == "en" ? lower : std::string();
}

} // namespace

const Module1::HourChime& DecideChime(const platform::TimeOfDay& now) {
    Module1::HourChime& decided = Module1::State().hour_chime;
    if (now.second == 0 || decided.hour != now.hour || decided.minute != now.minute) {
        decided = {now.hour, now.minute, DecideVolume(now.hour), {}};
        // A quarter is never spoken, nor a skipped hour.
        if (now.minute == 0 && decided.volume) {
            decided.speak = SpeakLanguage();
        }
    }
    return decided;
}

std::vector<int> QuarterMinutes() {
    const std::optional<double> quarters = TextToNumber(ReadChimeKey("Quarters"));
    if (quarters && *quarters == 1) {
        return {15, 30, 45};
    }
    if (quarters && *quarters == 30) {
        return {30};
    }
    return {};
}

std::string SpokenHour(int hour, std::string_view language) {
    hour = ((hour % 24) + 24) % 24;
    const int dial = hour % 12;
    if (language == "ja") {
        static constexpr const char* kHours[] = {"れいじ", "いちじ", "にじ",     "さんじ",
                                                 "よじ",   "ごじ",   "ろくじ",   "しちじ",
                                                 "はちじ", "くじ",   "じゅうじ", "じゅういちじ"};
        return std::string(hour < 12 ? "ごぜん " : "ごご ") + kHours[dial] + " です";
    }
    if (hour == 0) {
        return "It's midnight";
    }
    if (hour == 12) {
        return "It's twelve noon";
    }
    static constexpr const char* kNumbers[] = {"",    "one",   "two",   "three", "four", "five",
                                               "six", "seven", "eight", "nine",  "ten",  "eleven"};
    return std::string("It's ") + kNumbers[dial] + " o'clock";
}
