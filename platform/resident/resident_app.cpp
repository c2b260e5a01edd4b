#include "platform/core/forms.h"
#include "platform/core/tick_timers.h"
#include "platform/posix/instance.h"
#include "platform/posix/sound_client.h"
#include "platform/resident/resident_backend.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace platform {

namespace resident {

Resident& State() {
    static Resident resident;
    return resident;
}

std::string WindowProgram() {
    return ProgramFolder() + "/velmorin-ui";
}

void HandOver() {
    const std::string program = WindowProgram();
    ::execv(program.c_str(), State().argv);
    std::fprintf(stderr, "velmorin: cannot start the window program %s: %s\n", program.c_str(),
                 std::strerror(errno));
}

} // namespace resident

std::int64_t core::WallClockUs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// The resident waits to the microsecond, so it ticks on the grid point itself.
std::int64_t core::TickLagMs() {
    return 0;
}

// The loop works out its wait afresh on every pass.
void core::TimersChanged() {}

namespace {

bool HasDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fprintf(stderr, "velmorin: no display: start it in a desktop session (DISPLAY "
                             "is not set)\n");
        return false;
    }
    return true;
}

} // namespace

int Run(const Form& startup, int /*argc*/, char** argv) {
    resident::State().argv = argv;
    if (std::getenv(posix::kContinueVariable) != nullptr) {
        resident::State().continues = true;
        ::unsetenv(posix::kContinueVariable);
    }
    if (!HasDisplay()) {
        return 1;
    }
    // The control window is the only thing a copy shows at start-up, and it shows it exactly
    // when another copy runs: that copy is better started with the toolkit from the first.
    // A copy handed over by the window program registers again (its lock and record went with
    // the exec), and has said that it runs.
    if (posix::RegisterAndFindOtherCopies() && !resident::State().continues) {
        resident::HandOver();
        return 1;
    }
    resident::ConnectDisplay();
    core::LoadStartupForm(startup);
    // Only now is it known that this copy runs on: start-up may have ended it. A copy that
    // continues an earlier one said so when it started.
    if (!resident::State().continues) {
        posix::SayRunningInTerminal();
    }
    resident::RunLoop();
}

// A window alone is all toolkit: the window program opens it, with the same command line.
int RunAlone(const Form& /*form*/, int /*argc*/, char** argv) {
    resident::State().argv = argv;
    if (!HasDisplay()) {
        return 1;
    }
    resident::HandOver();
    return 1;
}

// The resident hands over before its start-up steps whenever another copy runs.
bool AnotherCopyRunning() {
    return false;
}

bool ContinuesEarlierCopy() {
    return resident::State().continues;
}

TimeOfDay Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return {local.tm_hour, local.tm_min, local.tm_sec};
}

void End() {
    std::fflush(nullptr);
    std::_Exit(0);
}

void EndWithStatus(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

void Tell(std::string_view text, Notice notice) {
    posix::Tell(text, notice, MessageBox);
}

bool PlaySoundA(const char* sound, void* /*module*/, std::uint32_t flags) {
    return posix::RequestSound(sound, flags);
}

} // namespace platform
