#include "chime/chime_settings.h"

#include "shared/Module1.h"
#include "shared/chime_keys.h"

namespace {

std::optional<int> DecideHour(int hour) {
    if (QuietHours(ReadChimeKey("Quiet"))[static_cast<std::size_t>(hour)]) {
        return std::nullopt;
    }
    // The desktop is asked only when the user opted in: the question may take a while.
    if (BusyWanted(ReadChimeKey("Busy")) && platform::UserIsBusy()) {
        return std::nullopt;
    }
    return ChimeVolume(ReadChimeKey("Volume"));
}

} // namespace

std::optional<int> HourChimeVolume(const platform::TimeOfDay& now) {
    Module1::HourChime& decided = Module1::State().hour_chime;
    if (now.second == 0 || decided.hour != now.hour) {
        decided = {now.hour, DecideHour(now.hour)};
    }
    return decided.volume;
}
