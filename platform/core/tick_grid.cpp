#include "platform/core/tick_grid.h"

#include <algorithm>

namespace platform::core {

std::int64_t NextTickMs(std::int64_t now_ms, std::int64_t period_ms, std::int64_t lag_ms) {
    const std::int64_t period = std::max<std::int64_t>(period_ms, 1);
    const std::int64_t since_lag = now_ms - lag_ms;
    // Floor division, so that times before the epoch lie on the same grid as those after it.
    std::int64_t index = since_lag / period;
    if (since_lag % period < 0) {
        --index;
    }
    return (index + 1) * period + lag_ms;
}

bool TickIsDue(std::int64_t now_ms, std::int64_t due_ms) {
    // On time, late, or after the wall clock moved back during the wait: tick now, so that a
    // step never holds up the quit request, and wait from there on the clock's new grid.
    return now_ms >= due_ms || due_ms - now_ms > kTickEarlyMs;
}

} // namespace platform::core
