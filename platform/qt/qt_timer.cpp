#include "platform/core/tick_grid.h"
#include "platform/posix/clock_steps.h"
#include "platform/posix/sound_client.h"
#include "platform/qt/qt_backend.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform::qt {

AlignedTimer::AlignedTimer(int period_ms, std::function<void()> handler)
    : period_ms_(period_ms), handler_(std::move(handler)), timer_(std::make_unique<QTimer>()) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { Fire(); });

    // Without the notice (no timerfd, or a faked clock that the kernel knows nothing of) a step
    // is still caught on the next wake-up, at most one period later.
    step_fd_ = posix::WatchClockSteps();
    if (step_fd_ >= 0) {
        step_watch_ = std::make_unique<QSocketNotifier>(step_fd_, QSocketNotifier::Read);
        QObject::connect(step_watch_.get(), &QSocketNotifier::activated, [this] { ClockSet(); });
    }
    Arm();
}

AlignedTimer::~AlignedTimer() {
    *alive_ = false;
    step_watch_.reset();
    if (step_fd_ >= 0) {
        ::close(step_fd_);
    }
}

// Every wait is worked out afresh from the wall clock, to the next grid point: never longer
// than one period, whatever the clock did before.
void AlignedTimer::Arm() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    due_ms_ = core::NextTickMs(now, period_ms_);
    timer_->start(static_cast<int>(due_ms_ - now));
}

void AlignedTimer::Fire() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!core::TickIsDue(now, due_ms_)) {
        // Woken a little early; a tick now would read the old second.
        timer_->start(static_cast<int>(due_ms_ - now));
        return;
    }
    // The handler may unload the window that owns this timer.
    const auto alive = alive_;
    handler_();
    posix::KeepSoundReady(Now());
    posix::ReapSoundHelper();
    if (*alive) {
        Arm();
    }
}

// The wall clock was set: the wait in progress was measured against the old one. The next
// tick comes at the next grid point of the new one.
void AlignedTimer::ClockSet() {
    posix::AcknowledgeClockStep(step_fd_);
    if (timer_->isActive()) {
        Arm();
    }
}

} // namespace platform::qt
