#include "platform/core/tick_timers.h"

#include "platform/core/tick_grid.h"

#include <algorithm>
#include <string>
#include <vector>

namespace platform::core {

namespace {

// The sound helper takes a few seconds to start and open its output.
constexpr int kSoundLeadSeconds = 8;
// The hour's second chime comes at hh:00:08; a quarter's only one at second 0.
constexpr int kLastChimeSecond = 8;

struct Timer {
    const Form* form = nullptr;
    std::string event; // "Timer1_Timer"
    std::int64_t period_ms = 0;
    std::int64_t due_ms = 0;
    bool running = false;
};

// Never destroyed: a handler may end the process from inside a tick.
std::vector<Timer>& Timers() {
    static auto* timers = new std::vector<Timer>();
    return *timers;
}

Timer* Find(const Form* form, const std::string& event) {
    for (Timer& timer : Timers()) {
        if (timer.form == form && timer.event == event) {
            return &timer;
        }
    }
    return nullptr;
}

// Floor division: before the epoch a millisecond still starts at its first microsecond.
std::int64_t WallClockMs() {
    const std::int64_t us = WallClockUs();
    return us / 1000 - (us % 1000 < 0 ? 1 : 0);
}

// The quarters the logic chimes at besides the hour.
std::vector<int>& QuarterMinutes() {
    static auto* minutes = new std::vector<int>();
    return *minutes;
}

// From a few seconds before a full hour through its second chime, and from a few seconds before
// a quarter the logic chimes at through its chime.
bool SoundWantedSoon(const TimeOfDay& now) {
    const auto chimes_at = [](int minute) {
        return minute == 0 || std::ranges::find(QuarterMinutes(), minute) != QuarterMinutes().end();
    };
    const bool before = now.second >= 60 - kSoundLeadSeconds && chimes_at((now.minute + 1) % 60);
    const bool during =
        now.second <= (now.minute == 0 ? kLastChimeSecond : 0) && chimes_at(now.minute);
    return before || during;
}

} // namespace

bool ChimesAreNear(const TimeOfDay& now) {
    return SoundWantedSoon(now) || (now.minute == 0 && now.second <= kLastChimeSecond + 1);
}

} // namespace platform::core

void platform::SetQuarterMinutes(const std::vector<int>& minutes) {
    core::QuarterMinutes() = minutes;
}

namespace platform::core {

void StartTimers(const Form& form) {
    const std::int64_t now = WallClockMs();
    bool started = false;
    for (const ControlLayout& control : form.layout.controls) {
        if (control.kind == ControlKind::Timer && control.interval_ms > 0) {
            Timers().push_back({&form, control.name + "_Timer", control.interval_ms,
                                NextTickMs(now, control.interval_ms, TickLagMs())});
            started = true;
        }
    }
    if (started) {
        TimersChanged();
    }
}

void StopTimers(const Form& form) {
    if (std::erase_if(Timers(), [&form](const Timer& timer) { return timer.form == &form; }) > 0) {
        TimersChanged();
    }
}

void RunDueTimers() {
    const std::int64_t now = WallClockMs();
    std::vector<std::pair<const Form*, std::string>> due;
    for (const Timer& timer : Timers()) {
        if (!timer.running && TickIsDue(now, timer.due_ms)) {
            due.emplace_back(timer.form, timer.event);
        }
    }
    for (const auto& [form, event] : due) {
        // An earlier handler may have unloaded its window.
        Timer* timer = Find(form, event);
        if (timer == nullptr) {
            continue;
        }
        timer->running = true;
        RunHandler(*form, event);
        // The next wait is worked out afresh from the wall clock, never longer than one period.
        if (Timer* still = Find(form, event)) {
            still->running = false;
            still->due_ms = NextTickMs(WallClockMs(), still->period_ms, TickLagMs());
        }
        if (SoundWantedSoon(Now())) {
            PrepareSound();
        }
    }
}

void RealignTimers() {
    const std::int64_t now = WallClockMs();
    for (Timer& timer : Timers()) {
        timer.due_ms = NextTickMs(now, timer.period_ms, TickLagMs());
    }
    TimersChanged();
}

std::int64_t NextTickWaitUs() {
    const std::int64_t now_us = WallClockUs();
    std::int64_t wait_us = -1;
    for (const Timer& timer : Timers()) {
        if (timer.running) {
            continue;
        }
        const std::int64_t left =
            std::clamp<std::int64_t>(timer.due_ms * 1000 - now_us, 0, timer.period_ms * 1000);
        wait_us = wait_us < 0 ? left : std::min(wait_us, left);
    }
    return wait_us;
}

} // namespace platform::core
