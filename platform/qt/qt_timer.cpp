// The window program's tick loop: one single-shot QTimer that waits for the next due timer, and
// a notifier on the kernel's notice of a wall-clock step. What is due, what runs and how long to
// wait are platform/core/tick_timers.cpp's.

#include "platform/core/tick_timers.h"
#include "platform/posix/clock_steps.h"
#include "platform/posix/sound_client.h"
#include "platform/qt/qt_backend.h"

#include <QSocketNotifier>
#include <QTimer>

namespace platform::qt {

namespace {

struct Ticker {
    QTimer wait;
    // Without the notice (no timerfd, or a faked clock that the kernel knows nothing of) a step
    // is still caught on the next wake-up, at most one period later.
    std::unique_ptr<QSocketNotifier> clock_steps;
};

void Tick() {
    core::RunDueTimers();
    posix::ReapSoundHelper();
    ArmTickWait();
    GoLeanWhenNoWindowShows();
}

// Made once the application runs, and never destroyed: it outlives the event loop.
Ticker& TheTicker() {
    static Ticker* ticker = [] {
        auto* made = new Ticker;
        made->wait.setSingleShot(true);
        made->wait.setTimerType(Qt::PreciseTimer);
        QObject::connect(&made->wait, &QTimer::timeout, [] { Tick(); });
        if (const int fd = posix::WatchClockSteps(); fd >= 0) {
            made->clock_steps = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(made->clock_steps.get(), &QSocketNotifier::activated, [fd] {
                posix::AcknowledgeClockStep(fd);
                core::RealignTimers();
            });
        }
        return made;
    }();
    return *ticker;
}

} // namespace

// QTimer waits in whole milliseconds, rounded up.
void ArmTickWait() {
    const std::int64_t wait_us = core::NextTickWaitUs();
    if (wait_us < 0) {
        TheTicker().wait.stop();
    } else {
        TheTicker().wait.start(static_cast<int>((wait_us + 999) / 1000));
    }
}

} // namespace platform::qt
