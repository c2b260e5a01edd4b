#pragma once

// The tick loop every backend shares: the timers of the loaded windows with their due times on
// the wall-clock grid, which of them are due, running their handlers, the next wait, and having
// the sound ready before a chime. A backend only waits and wakes: it implements the primitives
// below, waits NextTickWaitUs() and calls RunDueTimers() when it wakes, and RealignTimers() when
// the wall clock was set.

#include "platform/platform.h"

#include <cstdint>

namespace platform::core {

// Primitives of the backend.
// The wall clock, in microseconds since the epoch.
std::int64_t WallClockUs();
// How long after its grid point a tick of this backend comes: kTickLagMs for one that waits in
// whole milliseconds, 0 for one that waits to the microsecond.
std::int64_t TickLagMs();
// The timers were started, stopped or laid on a new grid outside a tick: a backend that keeps a
// wait armed arms it again from NextTickWaitUs().
void TimersChanged();
// Has the hour's sound made ready to play: called after each tick from a few seconds before
// every full hour through its second chime, so that the sound reaches the speakers the moment
// it is asked for.
void PrepareSound();

// Lays the timers of a form's layout on the grid; forms.cpp calls it when a form is loaded.
void StartTimers(const Form& form);
void StopTimers(const Form& form);
// Runs the handler of every timer that is due, each at most once; a handler may unload windows
// or end the process. A timer whose handler is running is not due again until it returns, so a
// tick never runs inside its own handler.
void RunDueTimers();
// After a step of the wall clock every wait in progress was measured against the old one: the
// timers wait for the next point of the new clock's grid.
void RealignTimers();
// True from a few seconds before a full hour until the chime latch of its second chime is
// released (hh:00:09): a copy that changes program meanwhile could lose the hour's sound or,
// starting afresh, play it twice.
bool ChimesAreNear(const TimeOfDay& now);
// How long to wait for the next due timer, in microseconds: never longer than its period, 0 when
// one is due now, -1 when no timer runs.
std::int64_t NextTickWaitUs();

} // namespace platform::core
