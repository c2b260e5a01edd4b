#include "platform/sound/sound_output.h"

#include "platform/core/sample_volume.h"
#include "platform/posix/pulse_server.h"
#include "platform/sound/alert.h"
#include "platform/sound/sdl_audio.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace platform::sound {

namespace {

// PipeWire runs its whole graph at the shortest period that any client asks for, and at 1024
// frames (21 ms) when none asks for less. The helper asks for a short one for the seconds it runs;
// the server goes back to its own when the helper ends. SDL's pipewire driver asks through
// PIPEWIRE_LATENCY. Its pulseaudio driver, through PipeWire's pulse server, gets a period no
// shorter than that server's minimum quantum, and keeps queued about twice the minimum request,
// which is what a chime waits behind; PULSE_PROP, read by libpulse, lowers both for this client.
// A PulseAudio server ignores both. What the user has set stays: theirs comes after ours, and a
// later property wins. A period of 128 frames (2.7 ms): with 64 a busy machine stretched a chime
// by half a second of underruns, and the whole graph, every other program's sound included, runs
// at this period while the helper does. The request can be half of it: the queue then holds about
// one period, which a client that answers within the period keeps filled.
constexpr int kPipeWireRate = 48000;
constexpr int kShortPeriod = 128;
constexpr int kShortRequest = 64;

void AskForShortPeriod() {
    const std::string per_rate = "/" + std::to_string(kPipeWireRate);
    const std::string period = std::to_string(kShortPeriod) + per_rate;
    ::setenv("PIPEWIRE_LATENCY", period.c_str(), 0);
    const char* theirs = std::getenv("PULSE_PROP");
    const std::string ours = "pulse.min.req=" + std::to_string(kShortRequest) + per_rate +
                             " pulse.min.quantum=" + period;
    ::setenv("PULSE_PROP", (theirs != nullptr ? ours + " " + theirs : ours).c_str(), 1);
}

// How the output is opened. A sound asked for waits for SDL's next buffer, and then behind what
// the sound server keeps queued, which SDL's pulseaudio driver sets from its buffer's length.
struct Shape {
    int rate;
    int frames;
};
// 256 frames (5.8 ms) at the files' own rate. Shorter buffers left PulseAudio without samples
// for up to a quarter of a second within a chime on a busy machine.
constexpr Shape kShape{kOutputRate, 256};
// On PipeWire at its own rate, so nothing is resampled on the server's side. Its own driver gets
// buffers of one period. Its pulse server queues about two requests, and more when the buffer
// is not longer than that: a buffer just over two requests keeps one period queued, where 256
// frames at 44.1 kHz kept three.
constexpr Shape kPipeWireShape{kPipeWireRate, kShortPeriod};
constexpr Shape kPipeWirePulseShape{kPipeWireRate, 2 * kShortRequest + 2};

Shape ChooseShape(bool pipewire) {
    const std::string_view driver = AudioDriver();
    if (driver == "pipewire") {
        return kPipeWireShape;
    }
    return driver == "pulseaudio" && pipewire ? kPipeWirePulseShape : kShape;
}

// Where PipeWire serves the desktop's sound, SDL's own driver for it is tried first, as SDL
// 2.30 and later do on PipeWire 1.0: through PipeWire's pulse server a chime waits about 4 ms
// longer, behind that protocol's requests and queue. SDL 2.26 tries pulseaudio first because it
// cannot tell PipeWire's pulse server from PulseAudio; the socket's holder tells here. Should
// the native driver not start, pulseaudio is tried next.
constexpr const char* kPipeWireDrivers = "pipewire,pulseaudio";

constexpr auto kRetry = std::chrono::milliseconds(200);
// An output whose server has not asked for a buffer for this long is lost, whatever the device
// says: SDL's pipewire driver reports no loss when PipeWire restarts, its stream just stops. A
// server asks every few milliseconds; this leaves room for a machine that stalls for a moment,
// and still finds the loss soon enough to reopen before the next chime.
constexpr auto kStalled = std::chrono::milliseconds(600);
// The converter is fed this much of a file at a time, so that a sound at a low rate or in one
// channel is not converted far ahead of where it plays.
constexpr Uint32 kPieceBytes = 4096;

// SDL 2.26's pipewire driver waits without end for a stream that a server going down (or one
// without a session manager) never links; a helper stuck there would hold its copy's requests
// for good. Opening and closing get this long, then SIGALRM ends the helper, and the copy starts
// a new one with its next request.
constexpr unsigned kOpenSeconds = 5;

void FillCallback(void* output, Uint8* stream, int length) {
    static_cast<Output*>(output)->Fill(stream, length);
}

// Keeps the audio thread out of the sounds while it lives; with no device open there is none.
// Sounds taken out under it are freed after it ends, so the audio thread never waits on a free.
class DeviceLock {
  public:
    explicit DeviceLock(SDL_AudioDeviceID device) : device_(device) {
        if (device_ != 0) {
            SDL_LockAudioDevice(device_);
        }
    }
    ~DeviceLock() {
        if (device_ != 0) {
            SDL_UnlockAudioDevice(device_);
        }
    }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

  private:
    SDL_AudioDeviceID device_;
};

} // namespace

// A sound as its file holds it, converted to the output's format a buffer at a time as it
// plays: converting a whole hour's sound before its first buffer would hold that buffer back
// by several milliseconds.
struct Output::Sound {
    Uint8* data = nullptr; // the file's samples, as SDL_LoadWAV_RW gives them
    Uint32 length = 0;     // whole frames only
    Uint32 frame_bytes = 0;
    Uint32 fed = 0; // how much of them the converter has had
    SDL_AudioSpec format{};
    // Only the start of the file, whose rest is still being read: once it has all been fed,
    // the sound waits for the rest rather than ending.
    bool partial = false;
    SDL_AudioStream* converter = nullptr;
    int volume = 100;
    std::chrono::milliseconds duration{0};

    Sound() = default;
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;
    ~Sound() {
        if (converter != nullptr) {
            SDL_FreeAudioStream(converter);
        }
        SDL_FreeWAV(data);
    }

    // Null when the image is no WAV that SDL can read and convert, or holds no sample.
    static std::unique_ptr<Sound> Load(const std::string& wave, int volume, int rate) {
        auto sound = std::make_unique<Sound>();
        SDL_AudioSpec& format = sound->format;
        SDL_RWops* source = SDL_RWFromConstMem(wave.data(), static_cast<int>(wave.size()));
        if (source == nullptr ||
            SDL_LoadWAV_RW(source, 1, &format, &sound->data, &sound->length) == nullptr) {
            sound->data = nullptr;
            return nullptr;
        }
        sound->frame_bytes = SDL_AUDIO_BITSIZE(format.format) / 8 * format.channels;
        if (sound->frame_bytes == 0 || format.freq <= 0) {
            return nullptr;
        }
        sound->length -= sound->length % sound->frame_bytes;
        sound->converter = SDL_NewAudioStream(format.format, format.channels, format.freq,
                                              AUDIO_S16SYS, kOutputChannels, rate);
        if (sound->length == 0 || sound->converter == nullptr) {
            return nullptr;
        }
        sound->volume = volume;
        sound->duration =
            std::chrono::milliseconds(std::uint64_t{sound->length} / sound->frame_bytes * 1000 /
                                      static_cast<std::uint64_t>(format.freq));
        return sound;
    }

    bool Ended() const {
        return fed == length && !partial && SDL_AudioStreamAvailable(converter) == 0;
    }

    // Whether `whole` is the file this sound is the start of: the same format, and the same
    // samples as far as they have been played.
    bool Starts(const Sound& whole) const {
        return format.format == whole.format.format && format.channels == whole.format.channels &&
               format.freq == whole.format.freq && fed <= whole.length &&
               std::memcmp(data, whole.data, fed) == 0;
    }

    // Up to `wanted` bytes in the output's format; fewer once the sound has ended.
    int Take(Uint8* stream, int wanted) {
        while (SDL_AudioStreamAvailable(converter) < wanted && fed < length) {
            const Uint32 piece = std::min(length - fed, kPieceBytes / frame_bytes * frame_bytes);
            // A piece the converter refuses ends the sound rather than repeating the refusal.
            fed = SDL_AudioStreamPut(converter, data + fed, static_cast<int>(piece)) == 0
                      ? fed + piece
                      : length;
            if (fed == length && !partial) {
                SDL_AudioStreamFlush(converter);
            }
        }
        const int taken = std::max(SDL_AudioStreamGet(converter, stream, wanted), 0);
        // Scaled in the samples themselves: the system's volume and other programs' sound
        // stay as they are.
        core::ScaleSamples(stream, static_cast<std::size_t>(taken), 16, volume);
        return taken;
    }
};

// Before SDL or any thread of its starts: the sound libraries read the variables as they open.
Output::Output() {
    AskForShortPeriod();
}

Output::~Output() {
    ::alarm(kOpenSeconds);
    Close();
    SDL_Quit();
}

void Output::KeepOpen() {
    ::alarm(kOpenSeconds);
    OpenOrReopen();
    ::alarm(0);
}

void Output::OpenOrReopen() {
    if (device_ != 0 && (SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_PLAYING || Stalled())) {
        // The sound server went away or the device was unplugged: SDL keeps the device's slot
        // but plays nothing into it any more. A new audio subsystem finds the server again.
        Close();
    }
    const auto now = std::chrono::steady_clock::now();
    if (device_ != 0 || now < next_attempt_) {
        return;
    }
    next_attempt_ = now + kRetry;
    const bool pipewire = posix::PulseServerIsPipeWire();
    if (!AcquireAudio(pipewire ? kPipeWireDrivers : nullptr)) {
        return;
    }
    last_fill_ = std::chrono::steady_clock::now().time_since_epoch().count();
    const Shape shape = ChooseShape(pipewire);
    rate_ = shape.rate;
    device_ = OpenOutput(FillCallback, this, shape.frames, shape.rate);
    if (device_ == 0) {
        // No output at all: silent, and tried again later.
        ReleaseAudio();
        return;
    }
    SDL_PauseAudioDevice(device_, 0);
}

bool Output::Ready() const {
    return device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_PLAYING && !Stalled();
}

bool Output::Stalled() const {
    const std::chrono::steady_clock::duration since_fill(
        std::chrono::steady_clock::now().time_since_epoch().count() - last_fill_);
    return since_fill > kStalled;
}

std::chrono::milliseconds Output::Play(const std::optional<std::string>& wave, bool no_default,
                                       int volume) {
    std::unique_ptr<Sound> next;
    if (wave) {
        next = Sound::Load(*wave, volume, rate_);
    }
    if (next == nullptr && !no_default) {
        next = Sound::Load(AlertWave(), volume, rate_);
    }
    const std::chrono::milliseconds duration =
        next != nullptr ? next->duration : std::chrono::milliseconds(0);
    Replace(std::move(next));
    return duration;
}

bool Output::PlayStart(const std::string& start, int volume) {
    std::unique_ptr<Sound> sound = Sound::Load(start, volume, rate_);
    if (sound == nullptr) {
        return false;
    }
    sound->partial = true;
    Replace(std::move(sound));
    return true;
}

std::chrono::milliseconds Output::Complete(const std::optional<std::string>& wave, int volume) {
    std::unique_ptr<Sound> whole = wave ? Sound::Load(*wave, volume, rate_) : nullptr;
    const DeviceLock lock(device_);
    if (sound_ == nullptr || !sound_->partial) {
        return std::chrono::milliseconds(0);
    }
    if (whole != nullptr && sound_->Starts(*whole)) {
        // The whole sound goes on from the sample the start has got to, through the same
        // converter, so nothing is heard twice or skipped.
        std::swap(whole->converter, sound_->converter);
        whole->fed = sound_->fed;
        sound_.swap(whole);
    } else if (whole == nullptr) {
        // The file went, or broke, after its start was read: the start is all there is.
        sound_->partial = false;
    } else {
        // The file was replaced in between: the new one plays from its beginning.
        sound_.swap(whole);
    }
    return sound_->duration;
}

std::optional<std::chrono::milliseconds> Output::PlayAfter(const std::string& wave, int volume) {
    std::unique_ptr<Sound> next = Sound::Load(wave, volume, rate_);
    if (next == nullptr) {
        return std::nullopt;
    }
    const std::chrono::milliseconds duration = next->duration;
    std::unique_ptr<Sound> ended;
    const DeviceLock lock(device_);
    ended = std::move(ended_);
    // A sound that has ended keeps its slot until another takes it.
    if (sound_ != nullptr && !sound_->Ended()) {
        next_.swap(next);
    } else {
        sound_.swap(next);
    }
    return duration;
}

void Output::Silence() {
    Replace(nullptr);
}

void Output::Replace(std::unique_ptr<Sound> next) {
    std::unique_ptr<Sound> waiting;
    std::unique_ptr<Sound> ended;
    const DeviceLock lock(device_);
    sound_.swap(next);
    waiting = std::move(next_);
    ended = std::move(ended_);
}

void Output::Fill(std::uint8_t* stream, int length) {
    last_fill_ = std::chrono::steady_clock::now().time_since_epoch().count();
    int taken = sound_ != nullptr ? sound_->Take(stream, length) : 0;
    if (taken < length && next_ != nullptr) {
        // The next sound starts in the same buffer, at the sample after the last one. The one
        // that ended is freed outside the audio thread.
        ended_ = std::move(sound_);
        sound_ = std::move(next_);
        taken += sound_->Take(stream + taken, length - taken);
    }
    std::memset(stream + taken, 0, static_cast<std::size_t>(length - taken));
}

void Output::Close() {
    if (device_ == 0) {
        return;
    }
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    sound_.reset();
    next_.reset();
    ended_.reset();
    ReleaseAudio();
}

} // namespace platform::sound
