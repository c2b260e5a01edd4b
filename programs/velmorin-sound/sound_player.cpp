// velmorin-sound: plays the hour's sound for the copy that started it, then ends. The copy sends
// its requests on standard input, each ended by a code-0 byte:
//   "ready"                            open the output now and keep it open a little longer;
//   "play NODEFAULT VOLUME PATH"       read PATH afresh and play it, replacing any sound;
//   "stop"                             silence the sound that is playing.
// The output plays silence while no sound plays, so a sound asked for starts within one buffer.
// The helper ends when its copy ends, or once it has been idle for a short grace; everything it
// mapped to play goes back to the system with it.

#include "platform/posix/path_case.h"
#include "platform/posix/whole_file.h"
#include "platform/sound/sound_output.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The copy asks for the output on every tick from a few seconds before the hour to its eighth
// second; each request holds it open a little longer than one tick.
constexpr milliseconds kReadyHold{2000};
// How long the helper stays after the end of its sound. Tests set VELMORIN_AUDIO_GRACE_MS.
constexpr milliseconds kDefaultGrace{2000};
// A lost output (the sound server restarted, the device went away) is opened again this often
// while the helper has anything to do.
constexpr milliseconds kRetry{200};
// A sound asked for while no output could be opened is played when one opens within this time,
// rather than lost; later it would no longer mark the hour.
constexpr milliseconds kPlayLate{3000};
// Anything bigger is not a sound file the program would ship; it gets the default sound.
constexpr std::size_t kMaxFileBytes = 64 * 1024 * 1024;

milliseconds Grace() {
    const char* text = std::getenv("VELMORIN_AUDIO_GRACE_MS");
    if (text == nullptr || *text == '\0') {
        return kDefaultGrace;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 0 && value <= 600000 ? milliseconds(value) : kDefaultGrace;
}

// PipeWire runs its whole graph at the shortest period that any client asks for, and at 1024
// frames (21 ms) when none asks for less. The helper asks for a short one for the seconds it runs;
// the server goes back to its own when the helper ends. SDL's pipewire driver asks through
// PIPEWIRE_LATENCY. Its pulseaudio driver, through PipeWire's pulse server, gets no less than
// that server's minimum request, of which the server keeps three queued (16 ms); PULSE_PROP, read
// by libpulse, lowers that minimum for this client. A PulseAudio server ignores both. What the
// user has set stays: theirs comes after ours, and a later property wins.
constexpr const char* kShortPeriod = "64/48000";

void AskForShortPeriod() {
    ::setenv("PIPEWIRE_LATENCY", kShortPeriod, 0);
    const char* theirs = std::getenv("PULSE_PROP");
    const std::string ours =
        std::string("pulse.min.req=") + kShortPeriod + " pulse.min.quantum=" + kShortPeriod;
    ::setenv("PULSE_PROP", (theirs != nullptr ? ours + " " + theirs : ours).c_str(), 1);
}

struct PlayRequest {
    bool no_default = false;
    int volume = 100;
    std::string path;
    Clock::time_point asked;
};

struct Player {
    platform::sound::Output output;
    milliseconds grace = Grace();
    Clock::time_point busy_until = Clock::now() + kReadyHold;
    std::optional<PlayRequest> pending;
    std::string received;
    bool input_open = true;

    void Handle(const std::string& record) {
        busy_until = std::max(busy_until, Clock::now() + (record == "ready" ? kReadyHold : grace));
        if (record == "stop") {
            pending.reset();
            output.Silence();
        } else if (record.rfind("play ", 0) == 0) {
            // "play N V PATH": the path is the rest of the record, blanks and all.
            PlayRequest request;
            request.no_default = record.size() > 5 && record[5] == '1';
            const std::size_t volume_end = record.find(' ', 7);
            if (volume_end == std::string::npos) {
                return;
            }
            request.volume = std::atoi(record.substr(7, volume_end - 7).c_str());
            request.path = record.substr(volume_end + 1);
            request.asked = Clock::now();
            pending = std::move(request);
        }
    }

    void Read() {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            return;
        }
        if (got <= 0) {
            input_open = false;
            return;
        }
        received.append(buffer, static_cast<std::size_t>(got));
        std::size_t end = 0;
        while ((end = received.find('\0')) != std::string::npos) {
            Handle(received.substr(0, end));
            received.erase(0, end + 1);
        }
        // A record longer than any path is no request.
        if (received.size() > 65536) {
            received.clear();
        }
    }

    void Serve() {
        if (!output.Ready()) {
            if (pending && Clock::now() - pending->asked > kPlayLate) {
                pending.reset();
            }
            return;
        }
        if (!pending) {
            return;
        }
        const PlayRequest request = std::move(*pending);
        pending.reset();
        // The file is read at every play, so a sound replaced on disk is heard at the next one.
        const std::optional<std::string> bytes = platform::posix::ReadWholeFile(
            platform::posix::ResolveCase(request.path), kMaxFileBytes);
        const milliseconds length = output.Play(bytes, request.no_default, request.volume);
        busy_until = std::max(busy_until, Clock::now() + length + grace);
    }

    bool Busy() const { return pending.has_value() || Clock::now() < busy_until; }

    int Run() {
        while (true) {
            if (Busy()) {
                output.KeepOpen();
                Serve();
            }
            if (!Busy()) {
                // About to end: refuse further requests, then serve any that came before.
                if (::shutdown(STDIN_FILENO, SHUT_RD) == 0) {
                    while (input_open) {
                        Read();
                    }
                }
                if (!Busy()) {
                    return 0;
                }
                continue;
            }
            const auto left = std::chrono::duration_cast<milliseconds>(busy_until - Clock::now());
            // The output is looked at every kRetry even while all is well, so that one lost
            // without a word from SDL is found and opened again before the next chime.
            const int timeout =
                static_cast<int>(std::clamp<long long>(left.count(), 1, kRetry.count()));
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (input_open && ::poll(&input, 1, timeout) > 0) {
                Read();
            } else if (!input_open) {
                // The copy has ended; the sound that plays is still heard out.
                ::poll(nullptr, 0, timeout);
            }
        }
    }
};

} // namespace

int main() {
    AskForShortPeriod();
    Player player;
    return player.Run();
}
