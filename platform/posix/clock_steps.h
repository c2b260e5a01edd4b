#pragma once

namespace platform::posix {

// A timerfd that becomes readable when the wall clock is set: by hand, by NTP stepping it, or on
// resume from suspend. -1 where there is none (or under a faked clock the kernel knows nothing
// of); a timer then catches a step at its next wake-up instead.
int WatchClockSteps();
// Takes the notice and arms the watch for the next step.
void AcknowledgeClockStep(int fd);

} // namespace platform::posix
