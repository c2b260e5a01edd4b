#include "platform/posix/path_case.h"
#include "platform/posix/whole_file.h"
#include "platform/sound/midi_check.h"
#include "platform/sound/sdl_audio.h"
#include "platform/stand_ins/sequencer.h"

#include <SDL.h>
#include <fcntl.h>
#include <fluidsynth.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

// The MCI sequencer on Linux: FluidSynth renders the tune with a General MIDI sound font into an
// SDL audio device of its own. FluidSynth is driven sample by sample from the device's callback,
// so the tune's end is known to the buffer, not seconds later as through SDL_mixer's music.

namespace platform::sequencer {

namespace {

constexpr int kRate = sound::kOutputRate;
constexpr int kChannels = sound::kOutputChannels;
constexpr int kBufferFrames = 1024;
// Loud enough to stand beside the hour's sound; FluidSynth's own default (0.2) is faint.
constexpr double kGain = 0.5;
// Below this peak (about -50 dBFS, some 30 dB under the tune's loudest notes) a buffer counts
// as silence: the last notes have died away, though a reverberation tail may still whisper.
constexpr int kQuietPeak = 100;
// Once the tune's events are done, this much silence ends it even if voices linger inaudibly.
constexpr std::uint64_t kQuietFramesToEnd = kRate / 10;
// A note held past the end of the tune is released there; its release may ring this long.
constexpr std::uint64_t kLongestTailFrames = kRate * 5;
// A device whose callback stops being called has been lost; waiting for it is given up.
constexpr auto kStallLimit = std::chrono::seconds(2);
// No tune this program plays comes near this; a larger file is not a tune.
constexpr std::uintmax_t kLargestFile = 16 * 1024 * 1024;

constexpr const char* kSoundFontFolder = "/usr/share/sounds/sf2";
// The small soundfont that setup installs loads in a tenth of the time and memory of the large
// ones that the system default may point to, and the About tune needs no more.
constexpr const char* kSoundFonts[] = {"TimGM6mb.sf2", "default-GM.sf2"};

struct Sequencer {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_player_t* player = nullptr;
    bool audio_acquired = false;
    SDL_AudioDeviceID device = 0;
    std::vector<unsigned char> tune;

    // Shared with the audio callback.
    std::atomic<bool> playing{false};
    std::atomic<bool> at_end{false};
    std::atomic<std::uint64_t> rendered_frames{0};
    std::mutex lock;
    std::condition_variable ended;

    // The callback's own bookkeeping, reset only while the device is locked.
    bool released = false;
    std::uint64_t done_at = 0;
    std::uint64_t quiet_frames = 0;
};

Sequencer& State() {
    static Sequencer sequencer;
    return sequencer;
}

std::optional<std::string> FindSoundFont() {
    namespace fs = std::filesystem;
    std::error_code error;
    for (const char* name : kSoundFonts) {
        const fs::path path = fs::path(kSoundFontFolder) / name;
        if (fs::is_regular_file(path, error)) {
            return path.string();
        }
    }
    std::vector<std::string> others;
    for (fs::directory_iterator entry(kSoundFontFolder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().extension() == ".sf2" && entry->is_regular_file(error)) {
            others.push_back(entry->path().string());
        }
    }
    if (others.empty()) {
        return std::nullopt;
    }
    return *std::min_element(others.begin(), others.end());
}

void QuietLogging() {
    // FluidSynth's notices and warnings mean nothing to the user of a clock; its errors still
    // go to stderr through its default handler.
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

void Finish(Sequencer& s) {
    {
        std::lock_guard guard(s.lock);
        s.playing = false;
    }
    s.ended.notify_all();
}

void Render(void* userdata, Uint8* stream, int bytes) {
    Sequencer& s = *static_cast<Sequencer*>(userdata);
    auto* samples = reinterpret_cast<std::int16_t*>(stream);
    const int frames = bytes / static_cast<int>(sizeof(std::int16_t) * kChannels);
    if (!s.playing) {
        std::fill(samples, samples + frames * kChannels, std::int16_t{0});
        return;
    }
    fluid_synth_write_s16(s.synth, frames, samples, 0, kChannels, samples, 1, kChannels);
    const std::uint64_t rendered = s.rendered_frames += static_cast<std::uint64_t>(frames);

    int peak = 0;
    for (int i = 0; i < frames * kChannels; ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    }
    const bool quiet = peak < kQuietPeak;
    s.quiet_frames = quiet ? s.quiet_frames + static_cast<std::uint64_t>(frames) : 0;

    // FluidSynth's player reports itself done only seconds after its last event, so the tune's
    // events are over when its position has reached the end of its longest track.
    if (fluid_player_get_status(s.player) != FLUID_PLAYER_DONE &&
        fluid_player_get_current_tick(s.player) < fluid_player_get_total_ticks(s.player)) {
        return;
    }
    if (!s.released) {
        fluid_synth_all_notes_off(s.synth, -1);
        s.released = true;
        s.done_at = rendered;
    }
    // The tune has ended when its last notes have died away: no voice sounds any more and the
    // reverberation has faded, or nothing has been heard for a moment.
    const bool silent = quiet && fluid_synth_get_active_voice_count(s.synth) == 0;
    if (silent || s.quiet_frames >= kQuietFramesToEnd ||
        rendered - s.done_at > kLongestTailFrames) {
        s.at_end = true;
        Finish(s);
    }
}

void Release(Sequencer& s) {
    // Closing the device waits for a running callback, so nothing renders after this.
    if (s.device != 0) {
        SDL_CloseAudioDevice(s.device);
        s.device = 0;
    }
    if (s.audio_acquired) {
        sound::ReleaseAudio();
        s.audio_acquired = false;
    }
    if (s.player != nullptr) {
        delete_fluid_player(s.player);
        s.player = nullptr;
    }
    if (s.synth != nullptr) {
        delete_fluid_synth(s.synth);
        s.synth = nullptr;
    }
    if (s.settings != nullptr) {
        delete_fluid_settings(s.settings);
        s.settings = nullptr;
    }
    s.tune = {};
    s.at_end = false;
    s.rendered_frames = 0;
    Finish(s);
}

// Only a regular file is a tune. It is opened without blocking and checked on the descriptor it
// is read from, so that a pipe, device or folder put under the name between a check and the
// read can never hold up the About window.
std::uint32_t ReadTune(const std::string& path, std::vector<unsigned char>& tune) {
    const std::optional<std::string> bytes = posix::ReadWholeFile(path, kLargestFile);
    if (!bytes) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
            return MCIERR_FILE_NOT_FOUND;
        case EISDIR:
        case EINVAL:
        case EFBIG:
            return MCIERR_INVALID_FILE;
        default:
            return MCIERR_FILE_READ;
        }
    }
    tune.assign(bytes->begin(), bytes->end());
    return 0;
}

std::uint32_t OpenSynth(Sequencer& s, std::span<const unsigned char> smf) {
    const std::optional<std::string> sound_font = FindSoundFont();
    if (!sound_font) {
        return MCIERR_SEQ_NOMIDIPRESENT;
    }
    QuietLogging();
    s.settings = new_fluid_settings();
    if (s.settings == nullptr) {
        return MCIERR_OUT_OF_MEMORY;
    }
    fluid_settings_setnum(s.settings, "synth.sample-rate", kRate);
    fluid_settings_setnum(s.settings, "synth.gain", kGain);
    fluid_settings_setint(s.settings, "synth.cpu-cores", 1);
    fluid_settings_setint(s.settings, "synth.lock-memory", 0);
    fluid_settings_setstr(s.settings, "player.timing-source", "sample");
    s.synth = new_fluid_synth(s.settings);
    if (s.synth == nullptr) {
        return MCIERR_OUT_OF_MEMORY;
    }
    if (fluid_synth_sfload(s.synth, sound_font->c_str(), 1) == FLUID_FAILED) {
        return MCIERR_SEQ_NOMIDIPRESENT;
    }
    s.player = new_fluid_player(s.synth);
    if (s.player == nullptr) {
        return MCIERR_OUT_OF_MEMORY;
    }
    if (fluid_player_add_mem(s.player, smf.data(), smf.size()) == FLUID_FAILED) {
        return MCIERR_INVALID_FILE;
    }
    return 0;
}

// The device opens last and paused, so that it starts as close to the first note as it can.
std::uint32_t OpenDevice(Sequencer& s) {
    s.device = sound::OpenOutput(Render, &s, kBufferFrames);
    return s.device == 0 ? MCIERR_HARDWARE : 0;
}

} // namespace

std::uint32_t Open(const std::string& path) {
    Sequencer& s = State();
    Release(s);
    if (const std::uint32_t error = ReadTune(posix::ResolveCase(path), s.tune)) {
        Release(s);
        return error;
    }
    std::span<const unsigned char> smf(s.tune);
    std::uint32_t error = 0;
    switch (sound::CheckTune(smf)) {
    case sound::TuneCheck::Playable:
        // A machine without audio is told so before the sound font is loaded, not after.
        s.audio_acquired = sound::AcquireAudio();
        error = s.audio_acquired ? OpenSynth(s, smf) : MCIERR_HARDWARE;
        break;
    case sound::TuneCheck::Silent:
    case sound::TuneCheck::Broken:
        error = MCIERR_INVALID_FILE;
        break;
    }
    if (error == 0) {
        error = OpenDevice(s);
    }
    if (error != 0) {
        Release(s);
    }
    return error;
}

std::uint32_t Play(bool wait) {
    Sequencer& s = State();
    if (s.device == 0) {
        return MCIERR_DEVICE_NOT_READY;
    }
    if (s.at_end) {
        return 0;
    }
    if (!s.playing) {
        SDL_LockAudioDevice(s.device);
        s.released = false;
        s.quiet_frames = 0;
        fluid_player_play(s.player);
        s.playing = true;
        SDL_UnlockAudioDevice(s.device);
        SDL_PauseAudioDevice(s.device, 0);
    }
    if (!wait) {
        return 0;
    }

    std::unique_lock guard(s.lock);
    std::uint64_t frames = s.rendered_frames;
    auto progressed = std::chrono::steady_clock::now();
    while (s.playing) {
        s.ended.wait_for(guard, std::chrono::milliseconds(100));
        const auto now = std::chrono::steady_clock::now();
        if (s.rendered_frames != frames) {
            frames = s.rendered_frames;
            progressed = now;
        } else if (s.playing && now - progressed > kStallLimit) {
            guard.unlock();
            Stop();
            return MCIERR_HARDWARE;
        }
    }
    return 0;
}

void Stop() {
    Sequencer& s = State();
    if (s.device == 0) {
        return;
    }
    SDL_LockAudioDevice(s.device);
    if (s.playing) {
        fluid_player_stop(s.player);
        fluid_synth_all_sounds_off(s.synth, -1);
    }
    SDL_UnlockAudioDevice(s.device);
    SDL_PauseAudioDevice(s.device, 1);
    Finish(s);
}

bool Playing() {
    return State().playing;
}

void Close() {
    Release(State());
}

} // namespace platform::sequencer
