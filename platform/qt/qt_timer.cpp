#include "platform/qt/qt_backend.h"

#include <QDateTime>
#include <QTimer>

namespace platform::qt {

namespace {
// A tick lands this long after its grid point, so that the clock it reads is already in the
// new second whatever the rounding of the timer.
constexpr qint64 kLagMs = 2;
} // namespace

AlignedTimer::AlignedTimer(int period_ms, std::function<void()> handler)
    : period_ms_(period_ms), handler_(std::move(handler)), timer_(std::make_unique<QTimer>()) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { Fire(); });
    Arm();
}

AlignedTimer::~AlignedTimer() {
    *alive_ = false;
}

// Re-aligned on every tick, so drift, clock steps and suspend never accumulate.
void AlignedTimer::Arm() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    due_ms_ = (now - kLagMs) / period_ms_ * period_ms_ + period_ms_ + kLagMs;
    timer_->start(static_cast<int>(due_ms_ - now));
}

void AlignedTimer::Fire() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now < due_ms_) {
        // Woken a little early; a tick now would read the old second.
        timer_->start(static_cast<int>(due_ms_ - now));
        return;
    }
    // The handler may unload the window that owns this timer.
    const auto alive = alive_;
    handler_();
    if (*alive) {
        Arm();
    }
}

} // namespace platform::qt
