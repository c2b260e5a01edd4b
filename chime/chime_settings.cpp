#include "chime/chime_settings.h"

#include "shared/Module1.h"
#include "shared/chime_keys.h"
#include "shared/number.h"

namespace {

std::optional<int> DecideVolume(int hour) {
    if (QuietHours(ReadChimeKey("Quiet"))[static_cast<std::size_t>(hour)]) {
        return std::nullopt;
    }
    // The desktop is asked only when the user opted in: the question may take a while.
    if (BusyWanted(ReadChimeKey("Busy")) && platform::UserIsBusy()) {
        return std::nullopt;
    }
    return ChimeVolume(ReadChimeKey("Volume"));
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
