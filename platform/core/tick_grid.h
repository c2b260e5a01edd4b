#pragma once

// Where the periodic timer of every backend lands: on a grid of the wall clock rather than at
// a fixed distance from the last tick, so that drift, clock steps and suspend never accumulate.

#include <cstdint>

namespace platform::core {

// A timer that waits in whole milliseconds ticks this long after its grid point, so that the
// clock it reads is already in the new second whatever the rounding of its wait. One that
// waits to the microsecond ticks on the grid point itself: a lag there is only a later chime.
inline constexpr std::int64_t kTickLagMs = 2;
// A wake-up this much before its grid point is the timer's rounding, and the rest is waited out;
// anything earlier means the wall clock went back during the wait.
inline constexpr std::int64_t kTickEarlyMs = 20;

// The first tick after `now_ms` (milliseconds since the epoch, negative before it): the next
// multiple of the period plus the lag. 800 ms divides the hour and every time-zone offset, so
// a tick lands at hh:00:00 and hh:00:08, or the lag after them. A period below 1 ms counts as 1.
std::int64_t NextTickMs(std::int64_t now_ms, std::int64_t period_ms,
                        std::int64_t lag_ms = kTickLagMs);

// What a timer does when it wakes at `now_ms` for the tick due at `due_ms`: wait out a rounding
// of a few milliseconds, or tick, also when the clock went back during the wait.
bool TickIsDue(std::int64_t now_ms, std::int64_t due_ms);

} // namespace platform::core
