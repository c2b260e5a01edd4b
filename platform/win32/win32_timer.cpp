#include "platform/core/tick_grid.h"
#include "platform/win32/win32_backend.h"

#include <algorithm>

namespace platform::win32 {

namespace {

// FILETIME counts 100 ns from 1601; the grid counts from the Unix epoch, as on Linux.
constexpr std::int64_t kEpochIn100Ns = 116444736000000000;

// Never coalesced with other timers: Windows may otherwise delay the tick of a hidden window
// to save power, and the chime would come late.
void SetTickTimer(HWND hwnd, UINT_PTR id, std::int64_t wait_ms) {
    SetCoalescableTimer(hwnd, id,
                        static_cast<UINT>(std::max<std::int64_t>(wait_ms, USER_TIMER_MINIMUM)),
                        nullptr, TIMERV_NO_COALESCING);
}

// The wait is computed afresh from the wall clock on every tick and never leaves 0..period:
// drift, clock steps and suspend never accumulate, and no absolute due time can make a
// backward step wait out the difference.
void Arm(HWND hwnd, AlignedTimer& timer) {
    const std::int64_t now = WallClockMs();
    const std::int64_t period = timer.period_ms;
    timer.due_ms = core::NextTickMs(now, period);
    const std::int64_t wait = std::clamp<std::int64_t>(timer.due_ms - now, 0, period);
    SetTickTimer(hwnd, timer.id, wait);
}

} // namespace

std::int64_t WallClockMs() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const std::int64_t ticks =
        (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - kEpochIn100Ns) / 10000;
}

void StartTimers(FormWindow& window) {
    for (AlignedTimer& timer : window.timers) {
        Arm(window.hwnd, timer);
    }
}

void FireTimer(FormWindow& window, UINT_PTR id) {
    const auto found = std::find_if(window.timers.begin(), window.timers.end(),
                                    [id](const AlignedTimer& t) { return t.id == id; });
    if (found == window.timers.end()) {
        KillTimer(window.hwnd, id);
        return;
    }
    const std::int64_t now = WallClockMs();
    if (!core::TickIsDue(now, found->due_ms)) {
        // Woken a little early, a tick would read the old second.
        SetTickTimer(window.hwnd, id, found->due_ms - now);
        return;
    }
    // The handler may unload the window that owns this timer, or run a tick of its own inside
    // an event pass; the timer is looked up again afterwards.
    const Form* form = &window.form;
    const HWND hwnd = window.hwnd;
    const std::string event = found->event;
    KillTimer(hwnd, id);
    RunHandler(*form, event);
    FormWindow* still = Find(*form);
    if (still == nullptr || still->hwnd != hwnd) {
        return;
    }
    for (AlignedTimer& timer : still->timers) {
        if (timer.id == id) {
            Arm(hwnd, timer);
        }
    }
}

void RealignTimers() {
    for (core::Window* window : core::LoadedWindows()) {
        StartTimers(*static_cast<FormWindow*>(window));
    }
}

} // namespace platform::win32
