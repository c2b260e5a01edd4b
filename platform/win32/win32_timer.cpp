// The Windows program's tick loop: one thread timer that waits for the next due timer. What is
// due, what runs and how long to wait are platform/core/tick_timers.cpp's; WM_TIMECHANGE and a
// resume re-align it (win32_forms.cpp).

#include "platform/core/tick_timers.h"
#include "platform/win32/win32_backend.h"

#include <algorithm>

namespace platform {

namespace win32 {

namespace {

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    core::RunDueTimers();
    ArmTickTimer();
}

} // namespace

// A thread timer, so that it belongs to no window: the message loop and every modal loop
// dispatch it. Never coalesced with other timers: Windows may otherwise delay it to save power,
// and the chime would come late. It waits in whole milliseconds, rounded up.
void ArmTickTimer() {
    const std::int64_t wait_us = core::NextTickWaitUs();
    if (wait_us < 0) {
        if (State().tick_timer != 0) {
            KillTimer(nullptr, State().tick_timer);
            State().tick_timer = 0;
        }
        return;
    }
    const std::int64_t wait_ms = std::max<std::int64_t>((wait_us + 999) / 1000, USER_TIMER_MINIMUM);
    State().tick_timer = SetCoalescableTimer(
        nullptr, State().tick_timer, static_cast<UINT>(wait_ms), Tick, TIMERV_NO_COALESCING);
}

} // namespace win32

} // namespace platform
