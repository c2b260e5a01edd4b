#include "chime/Timer1.h"

#include "chime/chime_settings.h"
#include "platform/platform.h"
#include "shared/Module1.h"
#include "shared/program_file.h"
#include "shared/settings.h"

void Timer1_Timer() {
    // The quit request is polled on every tick, so a request from any copy stops this one
    // within one period.
    if (IsQuitRequest(ReadQuitRequest())) {
        platform::End();
    }

    // One reading of the clock serves every field: read field by field, a tick that straddles
    // hh:00:59.999 would see minute 0 and second 0 and chime a minute late.
    const platform::TimeOfDay now = platform::Now();
    std::int16_t& chime_latch = Module1::State().chime_latch;
    if (chime_latch == 0 && now.minute == 0 && (now.second == 0 || now.second == 8)) {
        chime_latch = 1;
        if (const std::optional<int> volume = HourChimeVolume(now)) {
            platform::SetWaveVolume(*volume);
            Module1::PlayWave(HourSoundPath(now.hour));
        }
    }
    // Some seconds get two ticks; the latch keeps the second one from starting the sound again.
    if (now.second == 1 || now.second == 9) {
        chime_latch = 0;
    }
}
