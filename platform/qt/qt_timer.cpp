#include "platform/core/tick_grid.h"
#include "platform/posix/sound_client.h"
#include "platform/qt/qt_backend.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform::qt {

namespace {

// A wall-clock timer that never expires (the year 2242), armed only to be cancelled when the
// wall clock is set: by hand, by NTP stepping it, or on resume from suspend.
bool WatchForClockSteps(int fd) {
    itimerspec far{};
    far.it_value.tv_sec = static_cast<time_t>(std::int64_t{1} << 33);
    return ::timerfd_settime(fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &far, nullptr) == 0;
}

} // namespace

AlignedTimer::AlignedTimer(int period_ms, std::function<void()> handler)
    : period_ms_(period_ms), handler_(std::move(handler)), timer_(std::make_unique<QTimer>()) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { Fire(); });

    // Without the notice (no timerfd, or a faked clock that the kernel knows nothing of) a step
    // is still caught on the next wake-up, at most one period later.
    step_fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (step_fd_ >= 0 && WatchForClockSteps(step_fd_)) {
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
    std::uint64_t expirations = 0;
    while (::read(step_fd_, &expirations, sizeof expirations) < 0 && errno == EINTR) {
    }
    WatchForClockSteps(step_fd_);
    if (timer_->isActive()) {
        Arm();
    }
}

} // namespace platform::qt
