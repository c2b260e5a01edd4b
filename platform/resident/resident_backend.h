#pragma once

// The resident: the backend of the copy that ticks in the background. It shows nothing, so it
// loads no toolkit: its one window, the hidden host window, is a record whose timer ticks on a
// poll loop. A copy that must show a window hands over to the window program, velmorin-ui,
// the same program built on Qt, which hands the copy back once it shows no window any more.
// One thread; all state in one struct.
//   Offers: the host window's timer on the wall-clock grid, re-aligned when the wall clock is
//     set; the end of the process with the display's connection; the hour's sound through the
//     sound helper; message boxes through the window program.
//   Does not offer: visible windows or the About tune (it hands over to the window program).

#include "platform/platform.h"

#include <string>

struct xcb_connection_t;

namespace platform::resident {

struct Resident {
    char** argv = nullptr;
    // The window program handed this copy over (posix::kContinueVariable).
    bool continues = false;
    // The display connection: the resident holds it so that it ends with the session.
    xcb_connection_t* display = nullptr;
    // A timerfd that reports steps of the wall clock.
    int clock_steps = -1;
    // A timerfd for the wait to the next tick: unlike a poll timeout, which the kernel may let
    // run late by a thousandth of its length (most of a millisecond for one period), it
    // expires on time.
    int tick_wait = -1;
};

Resident& State();

// The window program beside this one.
std::string WindowProgram();
// Replaces this process with the window program, which starts the program afresh with the
// toolkit. Returns only if it could not be started, having said so.
void HandOver();

// Opens the display connection that the resident holds for its life; without one it says so in
// one line and ends.
void ConnectDisplay();
// Runs the timers of the loaded windows (platform/core/tick_timers.h) until the process ends.
[[noreturn]] void RunLoop();

} // namespace platform::resident
