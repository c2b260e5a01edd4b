#include "platform/posix/sound_client.h"

#include "platform/core/tick_timers.h"
#include "platform/posix/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace platform::posix {

namespace {

constexpr const char* kHelperName = "velmorin-sound";
// Flags PlaySoundA accepts beyond SND_ASYNC, SND_NODEFAULT and SND_FILENAME: none. Memory
// images, aliases, resources, looping and SND_NOSTOP are not offered.
constexpr std::uint32_t kKnownFlags = SND_ASYNC | SND_NODEFAULT | SND_FILENAME;

struct Helper {
    pid_t pid = -1;
    int socket = -1; // our end of the helper's standard input
    int volume_percent = 100;
};

Helper& State() {
    static Helper helper;
    return helper;
}

void Forget(Helper& helper) {
    if (helper.socket >= 0) {
        ::close(helper.socket);
    }
    helper.socket = -1;
}

// The helper reads its requests from a socket rather than a pipe: a write to a helper that has
// gone fails with EPIPE under MSG_NOSIGNAL instead of raising SIGPIPE in this process.
bool Start(Helper& helper) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return false;
    }
    // The sound libraries report every failed attempt to open an output (dozens of lines a
    // minute on a machine without sound); a copy started at login would fill the journal.
    const pid_t pid = StartChild(ProgramFolder() + "/" + kHelperName, {kHelperName},
                                 {.input = ends[1], .errors = kNullStream});
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        return false;
    }
    helper.pid = pid;
    helper.socket = ends[0];
    return true;
}

// A request is one record ended by a code-0 byte, so a path may hold any other character.
bool Send(std::string_view record) {
    Helper& helper = State();
    ReapSoundHelper();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (helper.socket < 0 && !Start(helper)) {
            return false;
        }
        const std::string bytes = std::string(record) + '\0';
        const ssize_t sent =
            ::send(helper.socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent == static_cast<ssize_t>(bytes.size())) {
            return true;
        }
        // The helper has ended, or stopped reading because it was about to end: a new one
        // serves the request.
        Forget(helper);
    }
    return false;
}

} // namespace

bool RequestSound(const char* sound, std::uint32_t flags) {
    if (sound == nullptr) {
        // As on Windows, a null name stops the sound that is playing, whatever the flags; with
        // no helper running there is nothing to stop.
        return State().socket < 0 || Send("stop");
    }
    // A synchronous call would block the event thread for the length of the sound.
    if ((flags & ~kKnownFlags) != 0 || (flags & SND_ASYNC) == 0) {
        return false;
    }
    const char* no_default = (flags & SND_NODEFAULT) != 0 ? "1" : "0";
    Send(std::string("play ") + no_default + " " + std::to_string(State().volume_percent) + " " +
         sound);
    // As PlaySoundA does for an asynchronous sound, success means the request was taken; a
    // sound that cannot be heard (no output, a broken file) is the helper's matter.
    return true;
}

} // namespace platform::posix

namespace platform {

// The helper is started, if it is not running, and opens the output.
void core::PrepareSound() {
    posix::Send("ready");
}

void SetWaveVolume(int percent) {
    posix::State().volume_percent = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
}

} // namespace platform

namespace platform::posix {

// A helper replaced while it was ending is collected here too: the copy starts no other
// children that it does not wait for itself.
void ReapSoundHelper() {
    Helper& helper = State();
    pid_t pid = 0;
    while ((pid = ::waitpid(-1, nullptr, WNOHANG)) > 0) {
        if (pid == helper.pid) {
            helper.pid = -1;
            Forget(helper);
        }
    }
}

} // namespace platform::posix
