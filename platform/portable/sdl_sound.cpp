// PlaySoundA on SDL2_mixer. The caller is the 800 ms timer tick on the GUI thread, so the call
// only hands the request to one worker thread, which owns every SDL call made here: it reads the
// file, opens the audio device, plays, and closes the device again once the sound has ended and
// a grace period has passed with nothing new started.

#include "platform/platform.h"
#include "platform/portable/posix_path.h"
#include "platform/portable/sample_volume.h"
#include "platform/portable/sdl_audio.h"
#include "platform/portable/wave_file.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// The program starts the hour's sound at hh:00:00 and again at hh:00:08, and each sound is
// shorter than eight seconds; a ten-second grace keeps both in one device session. Tests shorten
// it with VELMORIN_AUDIO_GRACE_MS (whole milliseconds, 0 to 600000), read once at the first
// PlaySoundA call.
constexpr std::chrono::milliseconds kDefaultGrace{10000};
constexpr long kMaxGraceMs = 600000;

// A small device buffer keeps the start of the sound prompt: the first sample comes out within
// one buffer (23 ms) of the call.
constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kBufferFrames = 1024;
constexpr int kChannel = 0;

// Anything bigger is not a sound file the program would ship; it gets the default sound rather
// than a memory spike.
constexpr off_t kMaxFileBytes = 256 * 1024 * 1024;

// Flags PlaySoundA accepts beyond SND_ASYNC, SND_NODEFAULT and SND_FILENAME: none. Memory
// images, aliases, resources, looping and SND_NOSTOP are not offered by this backend.
constexpr std::uint32_t kKnownFlags = SND_ASYNC | SND_NODEFAULT | SND_FILENAME;

std::chrono::milliseconds GraceFromEnvironment() {
    const char* text = std::getenv("VELMORIN_AUDIO_GRACE_MS");
    if (text == nullptr || *text == '\0') {
        return kDefaultGrace;
    }
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > kMaxGraceMs) {
        return kDefaultGrace;
    }
    return std::chrono::milliseconds(value);
}

// The default sound, played when a file is missing or cannot be decoded: two soft bell notes, a
// fifth apart, made once as a 16-bit mono WAV image so that it goes through the same decoder
// and format conversion as any file.
std::string MakeAlertWave() {
    constexpr int kRateHz = 44100;
    constexpr double kNotes[] = {880.0, 1318.5};
    constexpr double kNoteSeconds = 0.18;
    constexpr double kDecaySeconds = 0.06;
    constexpr double kAttackSeconds = 0.004;
    constexpr double kPeak = 0.35 * 32767.0;
    const int note_frames = static_cast<int>(kNoteSeconds * kRateHz);

    std::vector<std::int16_t> samples;
    for (double frequency : kNotes) {
        for (int i = 0; i < note_frames; ++i) {
            double t = static_cast<double>(i) / kRateHz;
            double attack = std::min(1.0, t / kAttackSeconds);
            double envelope = attack * std::exp(-t / kDecaySeconds);
            double tone = std::sin(2.0 * std::numbers::pi * frequency * t) +
                          0.25 * std::sin(4.0 * std::numbers::pi * frequency * t);
            samples.push_back(static_cast<std::int16_t>(kPeak * envelope * tone / 1.25));
        }
    }

    return WaveFile(samples, kRateHz);
}

// The file is read afresh for every play, so a sound replaced on disk is heard at the next
// chime. Only a regular file is a sound: a pipe, socket, device or folder under the name is
// treated as missing, and it is opened without blocking so that a pipe with no writer cannot
// hold up this worker, and with it every later chime.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::vector<std::uint8_t>> bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        info.st_size <= kMaxFileBytes) {
        bytes.emplace(static_cast<std::size_t>(info.st_size));
        std::size_t length = 0;
        while (length < bytes->size()) {
            const ssize_t got = ::read(fd, bytes->data() + length, bytes->size() - length);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            length += static_cast<std::size_t>(got);
        }
        // A file cut short while it was read plays what was there; the decoder judges it.
        bytes->resize(length);
        if (length == 0) {
            bytes.reset();
        }
    }
    ::close(fd);
    return bytes;
}

struct Request {
    bool stop = false;
    std::string path;
    bool no_default = false;
    int volume = 100;
};

struct Sound {
    std::mutex lock;
    std::condition_variable wake;
    std::optional<Request> pending; // only the newest request counts: it replaces older ones
    bool quitting = false;
    int volume = 100; // for the requests that follow
    std::chrono::milliseconds grace = GraceFromEnvironment();

    // From here on, touched by the worker thread only.
    bool device_open = false;
    Mix_Chunk* chunk = nullptr;
    Clock::time_point close_at;
    std::string alert_wave;

    std::thread worker; // started last, once everything it reads is in place

    Sound() : worker([this] { Work(); }) {}

    ~Sound() {
        {
            std::lock_guard guard(lock);
            quitting = true;
        }
        wake.notify_one();
        worker.join();
    }

    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    void Work() {
        std::unique_lock guard(lock);
        auto ready = [this] { return quitting || pending.has_value(); };
        while (!quitting) {
            if (pending) {
                Request request = std::move(*pending);
                pending.reset();
                guard.unlock();
                Serve(request);
                guard.lock();
            } else if (!device_open) {
                // Idle: no timeout, so an idle program never wakes up for audio.
                wake.wait(guard, ready);
            } else if (!wake.wait_until(guard, close_at, ready)) {
                guard.unlock();
                CloseIfDone();
                guard.lock();
            }
        }
        guard.unlock();
        CloseDevice();
        // SDL keeps its error text in thread-local storage that it frees by itself only for
        // threads it started.
        SDL_TLSCleanup();
    }

    void Serve(const Request& request) {
        if (request.stop) {
            Silence();
            return;
        }
        std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(ResolveCase(request.path));
        if (!bytes && request.no_default) {
            Silence();
            return;
        }
        // The file is read before the device opens, so the device's first buffers carry the
        // start of the sound rather than the time spent reading.
        if (!device_open && !OpenDevice()) {
            return;
        }
        Mix_Chunk* next = nullptr;
        if (bytes) {
            next = Mix_LoadWAV_RW(
                SDL_RWFromConstMem(bytes->data(), static_cast<int>(bytes->size())), 1);
        }
        if (next == nullptr && !request.no_default) {
            if (alert_wave.empty()) {
                alert_wave = MakeAlertWave();
            }
            next = Mix_LoadWAV_RW(
                SDL_RWFromConstMem(alert_wave.data(), static_cast<int>(alert_wave.size())), 1);
        }
        // The chunk is in the device's format by now; scaling it leaves the mixer's and the
        // system's volume alone.
        Uint16 format = 0;
        if (next != nullptr && Mix_QuerySpec(nullptr, &format, nullptr) != 0) {
            ScaleSamples(next->abuf, next->alen, format == AUDIO_S16LSB ? 16 : 0, request.volume);
        }
        if (next == nullptr || Mix_PlayChannel(kChannel, next, 0) < 0) {
            Mix_FreeChunk(next);
            Silence();
            return;
        }
        // Playing on the busy channel has already replaced the old sound, so freeing it cannot
        // cut into the new one.
        Mix_FreeChunk(chunk);
        chunk = next;
        close_at = Clock::now() + ChunkLength(*next) + grace;
    }

    void Silence() {
        if (!device_open) {
            return;
        }
        Mix_HaltChannel(kChannel);
        Mix_FreeChunk(chunk);
        chunk = nullptr;
        close_at = Clock::now() + grace;
    }

    std::chrono::milliseconds ChunkLength(const Mix_Chunk& sound) const {
        int rate = 0;
        Uint16 format = 0;
        int channels = 0;
        if (Mix_QuerySpec(&rate, &format, &channels) == 0 || rate <= 0 || channels <= 0) {
            return std::chrono::milliseconds(0);
        }
        const long long frame_bytes =
            static_cast<long long>(SDL_AUDIO_BITSIZE(format) / 8) * channels;
        const long long frames = sound.alen / std::max(frame_bytes, 1LL);
        return std::chrono::milliseconds(frames * 1000 / rate);
    }

    // The deadline is computed from the sound's length; the device may still be draining its
    // last buffers when a short grace ends, so the sound is given a little longer.
    void CloseIfDone() {
        if (chunk != nullptr && Mix_Playing(kChannel) != 0) {
            close_at = Clock::now() + std::chrono::milliseconds(50);
            return;
        }
        CloseDevice();
    }

    // With no usable device the sound is simply not heard. Nothing retries here; the next
    // PlaySoundA call tries again.
    bool OpenDevice() {
        if (!sdl::AcquireAudio()) {
            return false;
        }
        if (Mix_OpenAudio(kRate, AUDIO_S16SYS, kChannels, kBufferFrames) != 0) {
            sdl::ReleaseAudio();
            return false;
        }
        device_open = true;
        return true;
    }

    void CloseDevice() {
        if (!device_open) {
            return;
        }
        Mix_HaltChannel(-1);
        Mix_FreeChunk(chunk);
        chunk = nullptr;
        Mix_CloseAudio();
        sdl::ReleaseAudio();
        device_open = false;
    }
};

Sound& TheSound() {
    static Sound sound;
    return sound;
}

} // namespace

bool PlaySoundA(const char* sound, void* /*module*/, std::uint32_t flags) {
    Request request;
    if (sound == nullptr) {
        // As on Windows, a null name stops the sound that is playing, whatever the flags.
        request.stop = true;
    } else {
        // Only asynchronous playing of a file is offered: a synchronous call would block the
        // GUI thread for the length of the sound.
        if ((flags & ~kKnownFlags) != 0 || (flags & SND_ASYNC) == 0) {
            return false;
        }
        request.path = sound;
        request.no_default = (flags & SND_NODEFAULT) != 0;
    }
    Sound& state = TheSound();
    {
        std::lock_guard guard(state.lock);
        request.volume = state.volume;
        state.pending = std::move(request);
    }
    state.wake.notify_one();
    return true;
}

void SetWaveVolume(int percent) {
    Sound& state = TheSound();
    std::lock_guard guard(state.lock);
    state.volume = std::clamp(percent, 0, 100);
}

} // namespace platform
