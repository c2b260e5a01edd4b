#include "platform/posix/sound_client.h"

#include "platform/core/tick_timers.h"
#include "platform/posix/sound_records.h"
#include "platform/posix/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace platform::posix {

namespace {

constexpr const char* kHelperName = "velmorin-sound";
// The helper renders speech with this program, looked for in PATH.
constexpr std::string_view kSpeechProgram = "espeak-ng";
// Flags PlaySoundA accepts beyond SND_ASYNC, SND_NODEFAULT and SND_FILENAME: none. Memory
// images, aliases, resources, looping and SND_NOSTOP are not offered.
constexpr std::uint32_t kKnownFlags = SND_ASYNC | SND_NODEFAULT | SND_FILENAME;

struct Helper {
    pid_t pid = -1;
    int socket = -1; // our end of the helper's standard input
    int volume_percent = 100;
    // Whether the speech program was looked for, and found; it is looked for once a run.
    std::optional<bool> speech_found;
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

bool FoundInPath(std::string_view program) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        const std::string file =
            std::string(folder.empty() ? "." : folder) + "/" + std::string(program);
        if (::access(file.c_str(), X_OK) == 0) {
            return true;
        }
        folders = colon == std::string_view::npos ? "" : folders.substr(colon + 1);
    }
    return false;
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

// The request as sound_records.h encodes it.
bool Send(const SoundRecord& record) {
    Helper& helper = State();
    ReapSoundHelper();
    const std::string bytes = EncodeSoundRecord(record);
    if (bytes.empty()) {
        return false;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (helper.socket < 0 && !Start(helper)) {
            return false;
        }
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
        return State().socket < 0 || Send(SoundStop{});
    }
    // A synchronous call would block the event thread for the length of the sound.
    if ((flags & ~kKnownFlags) != 0 || (flags & SND_ASYNC) == 0) {
        return false;
    }
    Send(SoundPlay{(flags & SND_NODEFAULT) != 0, State().volume_percent, sound});
    // As PlaySoundA does for an asynchronous sound, success means the request was taken; a
    // sound that cannot be heard (no output, a broken file) is the helper's matter.
    return true;
}

} // namespace platform::posix

namespace platform {

// The helper is started, if it is not running, and opens the output.
void core::PrepareSound() {
    posix::Send(posix::SoundReady{});
}

// The helper renders and plays the words; the copy maps nothing for them. It only looks for the
// speech program first, so that a machine without one is told once rather than never.
void SpeakAfterSound(std::string_view words, std::string_view language) {
    posix::Helper& helper = posix::State();
    if (!helper.speech_found) {
        helper.speech_found = posix::FoundInPath(posix::kSpeechProgram);
        if (!*helper.speech_found) {
            std::fprintf(stderr, "velmorin: %s is not installed; the hour is not spoken.\n",
                         std::string(posix::kSpeechProgram).c_str());
        }
    }
    if (*helper.speech_found) {
        posix::Send(
            posix::SoundSpeak{helper.volume_percent, std::string(language), std::string(words)});
    }
}

// The first of LC_ALL, LC_MESSAGES and LANG that is set decides, as it does for messages.
bool UserLanguageIsJapanese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return std::string_view(value).starts_with("ja");
        }
    }
    return false;
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
