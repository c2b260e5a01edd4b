// The resident's event loop: one thread asleep in poll() between ticks. It wakes for the next
// tick on the wall-clock grid, for a step of the wall clock, and for the display connection,
// whose end is the end of the session. Its wait is measured in microseconds, so a tick lands on
// its grid point rather than a rounding later: the hour's sound starts at the tick.

#include "platform/core/tick_grid.h"
#include "platform/posix/clock_steps.h"
#include "platform/posix/sound_client.h"
#include "platform/resident/resident_backend.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace platform::resident {

namespace {

// The wall clock was set: every wait in progress was measured against the old one.
void Realign() {
    posix::AcknowledgeClockStep(State().clock_steps);
    const std::int64_t now = WallClockMs();
    for (Timer& timer : State().timers) {
        timer.due_ms = core::NextTickMs(now, timer.period_ms, 0);
    }
}

// The session has ended when the display has gone; a resident left over from it would make the
// next login's copy open its control window.
void CheckDisplay() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(State().display)) {
        std::free(event);
    }
    if (xcb_connection_has_error(State().display)) {
        std::fprintf(stderr, "velmorin: the display has closed\n");
        std::_Exit(1);
    }
}

} // namespace

void ConnectDisplay() {
    const char* name = std::getenv("DISPLAY");
    State().display = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(State().display)) {
        std::fprintf(stderr, "velmorin: cannot open the display %s\n", name != nullptr ? name : "");
        std::_Exit(1);
    }
}

namespace {

// Runs every timer that is due; each handler may unload windows or end the process.
void RunDueTimers() {
    const std::int64_t now = WallClockMs();
    const std::vector<Timer> timers = State().timers;
    for (const Timer& timer : timers) {
        if (!core::TickIsDue(now, timer.due_ms)) {
            continue;
        }
        RunHandler(*timer.form, timer.event);
        // The next wait is worked out afresh from the wall clock, never longer than one period.
        for (Timer& still : State().timers) {
            if (still.form == timer.form && still.event == timer.event) {
                still.due_ms = core::NextTickMs(WallClockMs(), still.period_ms, 0);
            }
        }
        posix::KeepSoundReady(Now());
    }
    posix::ReapSoundHelper();
}

// Setting the timer also clears an expiry not yet read. A wait of zero would disarm it; the
// shortest one expires at once.
void ArmTickWait(std::int64_t wait_us) {
    if (State().tick_wait < 0) {
        return;
    }
    itimerspec wait{};
    if (wait_us >= 0) {
        const std::int64_t ns = std::max<std::int64_t>(wait_us * 1000, 1);
        wait.it_value = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    }
    ::timerfd_settime(State().tick_wait, 0, &wait, nullptr);
}

// Without a timerfd the wait falls back on poll's own timeout, rounded up to the millisecond.
int MillisecondsUp(std::int64_t wait_us) {
    return wait_us < 0 ? -1 : static_cast<int>((wait_us + 999) / 1000);
}

} // namespace

void StartTimers(const Form& form) {
    const std::int64_t now = WallClockMs();
    for (const ControlLayout& control : form.layout.controls) {
        if (control.kind == ControlKind::Timer && control.interval_ms > 0) {
            State().timers.push_back({&form, control.name + "_Timer", control.interval_ms,
                                      core::NextTickMs(now, control.interval_ms, 0)});
        }
    }
}

void RunLoop() {
    // Without the notice a step is still caught on the next wake-up, at most one period later.
    State().clock_steps = posix::WatchClockSteps();
    State().tick_wait = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    while (true) {
        std::int64_t wait_us = -1;
        const std::int64_t now_us = WallClockUs();
        for (const Timer& timer : State().timers) {
            const std::int64_t left =
                std::clamp<std::int64_t>(timer.due_ms * 1000 - now_us, 0, timer.period_ms * 1000);
            wait_us = wait_us < 0 ? left : std::min(wait_us, left);
        }
        ArmTickWait(wait_us);
        pollfd watched[3] = {{xcb_get_file_descriptor(State().display), POLLIN, 0},
                             {State().clock_steps, POLLIN, 0},
                             {State().tick_wait, POLLIN, 0}};
        const int ready = ::poll(watched, 3, State().tick_wait < 0 ? MillisecondsUp(wait_us) : -1);
        if (ready < 0 && errno != EINTR) {
            std::perror("velmorin: poll");
            std::_Exit(1);
        }
        if (watched[0].revents != 0) {
            CheckDisplay();
        }
        if (watched[1].revents != 0) {
            // The timers now wait for the new clock's grid; running them here would tick at
            // once, off it.
            Realign();
            continue;
        }
        RunDueTimers();
    }
}

} // namespace platform::resident
