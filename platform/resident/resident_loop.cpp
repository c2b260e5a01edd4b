// The resident's event loop: one thread asleep in poll() between ticks. It wakes for the next
// tick on the wall-clock grid, for a step of the wall clock, and for the display connection,
// whose end is the end of the session. Its wait is measured in microseconds, so a tick lands on
// its grid point rather than a rounding later: the hour's sound starts at the tick.

#include "platform/core/tick_timers.h"
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

void RunLoop() {
    // Without the notice a step is still caught on the next wake-up, at most one period later.
    State().clock_steps = posix::WatchClockSteps();
    State().tick_wait = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    while (true) {
        const std::int64_t wait_us = core::NextTickWaitUs();
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
            posix::AcknowledgeClockStep(State().clock_steps);
            core::RealignTimers();
            continue;
        }
        core::RunDueTimers();
        // The copy starts no other children that it does not wait for itself.
        posix::ReapSoundHelper();
    }
}

} // namespace platform::resident
