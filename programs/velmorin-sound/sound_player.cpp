// velmorin-sound: plays the hour's sound for the copy that started it, then ends. The copy sends
// its requests on standard input, as platform/posix/sound_records.h describes them. The output
// plays silence while no sound plays, so a sound asked for starts within one buffer. The helper
// ends when its copy ends, or once it has been idle for a short grace; everything it mapped to
// play goes back to the system with it.

#include "platform/posix/path_case.h"
#include "platform/posix/sound_records.h"
#include "platform/posix/spawn.h"
#include "platform/posix/whole_file.h"
#include "platform/sound/sound_output.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <variant>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kReadyHold{platform::posix::kReadyHoldMs};
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
// An hour's sound runs to a megabyte or more, and reading and loading all of it before its first
// buffer held that buffer back by several milliseconds. This much of it, a third of a second
// or more, plays while the rest is read.
constexpr std::size_t kStartBytes = 64 * 1024;
// The hour said in a few words is a few seconds of speech; a synthesizer that writes more than
// this has gone wrong.
constexpr std::size_t kMaxSpeechBytes = 8 * 1024 * 1024;
// Rendering a few words takes a fraction of a second; a chime is several seconds long.
constexpr milliseconds kRenderTime{4000};

// The speech synthesizer writes its WAV to a pipe, where it cannot go back to fill in the
// lengths: they hold a placeholder far beyond the image's end. The real ones are set here.
void SetWaveLengths(std::string& wave) {
    constexpr std::size_t kHeader = 44;
    if (wave.size() < kHeader || wave.compare(0, 4, "RIFF") != 0 ||
        wave.compare(36, 4, "data") != 0) {
        return;
    }
    const auto put = [&wave](std::size_t at, std::size_t value) {
        for (int i = 0; i < 4; ++i) {
            wave[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
        }
    };
    put(4, wave.size() - 8);
    put(40, wave.size() - kHeader);
}

// The words as a WAV image, rendered by eSpeak NG; nothing when it cannot be run.
std::optional<std::string> RenderSpeech(const platform::posix::SoundSpeak& speak) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const pid_t pid = platform::posix::StartChild(
        "espeak-ng", {"espeak-ng", "--stdout", "-v", speak.language, speak.words},
        {.input = platform::posix::kNullStream,
         .output = ends[1],
         .errors = platform::posix::kNullStream,
         .search_path = true});
    ::close(ends[1]);
    std::string wave;
    char buffer[65536];
    ssize_t got = 0;
    const Clock::time_point deadline = Clock::now() + kRenderTime;
    while (pid > 0) {
        // A synthesizer that hangs must not keep the helper, and the chime's output, alive.
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        pollfd output{ends[0], POLLIN, 0};
        if (left <= 0 || (::poll(&output, 1, static_cast<int>(left)) < 0 && errno != EINTR)) {
            ::kill(pid, SIGKILL);
            wave.clear();
            break;
        }
        got = ::read(ends[0], buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got < 0 || wave.size() > kMaxSpeechBytes) {
            ::kill(pid, SIGKILL);
            wave.clear();
            break;
        }
        wave.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(ends[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0 || wave.empty()) {
        return std::nullopt;
    }
    SetWaveLengths(wave);
    return wave;
}

milliseconds Grace() {
    const char* text = std::getenv("VELMORIN_AUDIO_GRACE_MS");
    if (text == nullptr || *text == '\0') {
        return kDefaultGrace;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 0 && value <= 600000 ? milliseconds(value) : kDefaultGrace;
}

struct PlayRequest {
    platform::posix::SoundPlay play;
    Clock::time_point asked;
};

struct Player {
    platform::sound::Output output;
    milliseconds grace = Grace();
    Clock::time_point busy_until = Clock::now() + kReadyHold;
    std::optional<PlayRequest> pending;
    std::optional<platform::posix::SoundSpeak> speech;
    // When the sound that plays, and the speech after it, end.
    Clock::time_point sound_ends{};
    platform::posix::SoundRecordReader reader;
    bool input_open = true;

    void Handle(const platform::posix::SoundRecord& record) {
        using namespace platform::posix;
        const bool ready = std::holds_alternative<SoundReady>(record);
        busy_until = std::max(busy_until, Clock::now() + (ready ? kReadyHold : grace));
        if (std::holds_alternative<SoundStop>(record)) {
            pending.reset();
            speech.reset();
            output.Silence();
        } else if (const auto* play = std::get_if<SoundPlay>(&record)) {
            pending = PlayRequest{*play, Clock::now()};
            speech.reset();
        } else if (const auto* speak = std::get_if<SoundSpeak>(&record)) {
            speech = *speak;
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
        for (const platform::posix::SoundRecord& record :
             reader.Take(std::string_view(buffer, static_cast<std::size_t>(got)))) {
            Handle(record);
        }
    }

    void Serve() {
        if (!output.Ready()) {
            if (pending && Clock::now() - pending->asked > kPlayLate) {
                pending.reset();
            }
            // Words whose chime was never heard are not said either.
            if (!pending) {
                speech.reset();
            }
            return;
        }
        if (pending) {
            const PlayRequest request = std::move(*pending);
            pending.reset();
            // The file is read at every play, so a sound replaced on disk is heard at the next
            // one.
            const std::string path = platform::posix::ResolveCase(request.play.path);
            const std::optional<std::string> start =
                platform::posix::ReadFileStart(path, kStartBytes);
            const bool started = start && start->size() == kStartBytes &&
                                 output.PlayStart(*start, request.play.volume);
            const std::optional<std::string> whole =
                !start || start->size() < kStartBytes
                    ? start
                    : platform::posix::ReadWholeFile(path, kMaxFileBytes);
            const milliseconds length =
                started ? output.Complete(whole, request.play.volume)
                        : output.Play(whole, request.play.no_default, request.play.volume);
            sound_ends = Clock::now() + length;
            busy_until = std::max(busy_until, sound_ends + grace);
        }
        // The speech is rendered after its sound has started, while it plays, so that neither
        // waits for the other.
        if (speech) {
            const std::optional<std::string> wave = RenderSpeech(*speech);
            const std::optional<milliseconds> length =
                wave ? output.PlayAfter(*wave, speech->volume) : std::nullopt;
            speech.reset();
            if (length) {
                sound_ends = std::max(sound_ends, Clock::now()) + *length;
                busy_until = std::max(busy_until, sound_ends + grace);
            }
        }
    }

    bool Busy() const {
        return pending.has_value() || speech.has_value() || Clock::now() < busy_until;
    }

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
    Player player;
    return player.Run();
}
