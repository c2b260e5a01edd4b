#include "platform/posix/clock_steps.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform::posix {

namespace {

// A wall-clock timer that never expires (the year 2242), armed only to be cancelled when the
// wall clock is set.
bool Arm(int fd) {
    itimerspec far{};
    far.it_value.tv_sec = static_cast<time_t>(std::int64_t{1} << 33);
    return ::timerfd_settime(fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &far, nullptr) == 0;
}

} // namespace

int WatchClockSteps() {
    const int fd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0 && !Arm(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void AcknowledgeClockStep(int fd) {
    std::uint64_t expirations = 0;
    while (::read(fd, &expirations, sizeof expirations) < 0 && errno == EINTR) {
    }
    Arm(fd);
}

} // namespace platform::posix
