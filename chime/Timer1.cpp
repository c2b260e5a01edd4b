#include "chime/Timer1.h"

#include "chime/chime_settings.h"
#include "platform/platform.h"
#include "shared/Module1.h"
#include "shared/program_file.h"
#include "shared/settings.h"

#include <algorithm>
#include <vector>

void Timer1_Timer() {
    // The quit request is polled on every tick, so a request from any copy stops this one
    // within one period.
    if (IsQuitRequest(ReadQuitRequest())) {
        platform::End();
    }

    // One reading of the clock serves every field: read field by field, a tick that straddles
    // hh:00:59.999 would see minute 0 and second 0 and chime a minute late.
    const platform::TimeOfDay now = platform::Now();
    // Quarters is read in the ten seconds before each quarter, early enough for the sound to be
    // made ready, and again at the quarter for a copy that has just started.
    std::vector<int> quarters;
    if ((now.minute % 15 == 14 && now.second >= 50) || (now.minute % 15 == 0 && now.second == 0)) {
        quarters = QuarterMinutes();
        platform::SetQuarterMinutes(quarters);
    }
    const bool hour = now.minute == 0 && (now.second == 0 || now.second == 8);
    const bool quarter =
        now.second == 0 && std::ranges::find(quarters, now.minute) != quarters.end();
    std::int16_t& chime_latch = Module1::State().chime_latch;
    if (chime_latch == 0 && (hour || quarter)) {
        chime_latch = 1;
        const Module1::HourChime& chime = DecideChime(now);
        if (chime.volume) {
            platform::SetWaveVolume(*chime.volume);
            Module1::PlayWave(hour ? HourSoundPath(now.hour) : QuarterSoundPath(now.minute));
            // The hour is spoken once, after its last chime.
            if (hour && now.second == 8 && !chime.speak.empty()) {
                platform::SpeakAfterSound(SpokenHour(now.hour, chime.speak), chime.speak);
            }
        }
    }
    // Some seconds get two ticks; the latch keeps the second one from starting the sound again.
    if (now.second == 1 || now.second == 9) {
        chime_latch = 0;
    }
}
