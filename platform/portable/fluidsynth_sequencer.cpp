#include "platform/portable/posix_path.h"
#include "platform/portable/sdl_audio.h"
#include "platform/portable/sequencer.h"

#include <SDL.h>
#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

// The MCI sequencer on Linux: FluidSynth renders the tune with a General MIDI sound font into an
// SDL audio device of its own. FluidSynth is driven sample by sample from the device's callback,
// so the tune's end is known to the buffer, not seconds later as through SDL_mixer's music.

namespace platform::sequencer {

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr Uint16 kBufferFrames = 1024;
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

enum class TuneCheck { Playable, Silent, Broken };

class Reader {
  public:
    explicit Reader(std::span<const unsigned char> data) : data_(data) {}
    bool AtEnd() const { return at_ == data_.size(); }
    std::size_t Left() const { return data_.size() - at_; }
    bool Byte(unsigned& value) {
        if (AtEnd()) {
            return false;
        }
        value = data_[at_++];
        return true;
    }
    bool Skip(std::size_t count) {
        if (count > Left()) {
            return false;
        }
        at_ += count;
        return true;
    }
    bool BigEndian(int bytes, std::uint32_t& value) {
        value = 0;
        for (unsigned byte = 0; bytes-- > 0;) {
            if (!Byte(byte)) {
                return false;
            }
            value = value << 8 | byte;
        }
        return true;
    }
    bool LittleEndian32(std::uint32_t& value) {
        std::uint32_t big = 0;
        if (!BigEndian(4, big)) {
            return false;
        }
        value = (big >> 24) | ((big >> 8) & 0xFF00) | ((big << 8) & 0xFF0000) | (big << 24);
        return true;
    }
    bool Tag(const char (&tag)[5]) {
        if (Left() < 4 || !std::equal(tag, tag + 4, data_.begin() + at_)) {
            return false;
        }
        at_ += 4;
        return true;
    }
    // A MIDI variable-length number: at most four bytes of seven bits.
    bool VarLength(std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            unsigned byte = 0;
            if (!Byte(byte)) {
                return false;
            }
            value = value << 7 | (byte & 0x7F);
            if ((byte & 0x80) == 0) {
                return true;
            }
        }
        return false;
    }
    std::span<const unsigned char> Take(std::size_t count) {
        const auto part = data_.subspan(at_, std::min(count, Left()));
        at_ += part.size();
        return part;
    }

  private:
    std::span<const unsigned char> data_;
    std::size_t at_ = 0;
};

TuneCheck CheckTrack(std::span<const unsigned char> track, bool& has_note) {
    Reader in(track);
    unsigned running = 0;
    while (!in.AtEnd()) {
        std::uint32_t delta = 0;
        unsigned status = 0;
        if (!in.VarLength(delta) || !in.Byte(status)) {
            return TuneCheck::Broken;
        }
        // Under running status the byte read is already the message's first data byte.
        unsigned key = status;
        const bool repeated = status < 0x80;
        if (repeated) {
            if (running == 0) {
                return TuneCheck::Broken;
            }
            status = running;
        }
        std::uint32_t length = 0;
        unsigned kind = 0;
        if (status == 0xFF) {
            if (!in.Byte(kind) || !in.VarLength(length) || !in.Skip(length)) {
                return TuneCheck::Broken;
            }
            if (kind == 0x2F) {
                return TuneCheck::Playable;
            }
        } else if (status == 0xF0 || status == 0xF7) {
            running = 0;
            if (!in.VarLength(length) || !in.Skip(length)) {
                return TuneCheck::Broken;
            }
        } else if (status >= 0xF0) {
            return TuneCheck::Broken;
        } else {
            running = status;
            const unsigned type = status & 0xF0;
            unsigned velocity = 0;
            if ((!repeated && !in.Byte(key)) ||
                (type != 0xC0 && type != 0xD0 && !in.Byte(velocity))) {
                return TuneCheck::Broken;
            }
            if (type == 0x90 && velocity > 0) {
                has_note = true;
            }
        }
    }
    return TuneCheck::Playable;
}

// Reads the file the way FluidSynth will, so that a damaged or empty tune is refused at open
// rather than failing quietly during play. A RIFF "RMID" file is unwrapped to the standard MIDI
// file inside it.
TuneCheck CheckTune(std::span<const unsigned char>& smf) {
    Reader riff(smf);
    std::uint32_t size = 0;
    if (riff.Tag("RIFF")) {
        if (!riff.LittleEndian32(size) || !riff.Tag("RMID")) {
            return TuneCheck::Broken;
        }
        while (true) {
            const bool data = riff.Tag("data");
            if (!data && !riff.Skip(4)) {
                return TuneCheck::Broken;
            }
            if (!riff.LittleEndian32(size)) {
                return TuneCheck::Broken;
            }
            if (data) {
                smf = riff.Take(size);
                break;
            }
            if (!riff.Skip(std::size_t{size} + (size & 1))) {
                return TuneCheck::Broken;
            }
        }
    }

    Reader in(smf);
    std::uint32_t format = 0;
    std::uint32_t tracks = 0;
    std::uint32_t division = 0;
    if (!in.Tag("MThd") || !in.BigEndian(4, size) || size < 6 || !in.BigEndian(2, format) ||
        !in.BigEndian(2, tracks) || !in.BigEndian(2, division) || !in.Skip(size - 6) ||
        format > 2 || tracks == 0 || division == 0) {
        return TuneCheck::Broken;
    }
    bool has_note = false;
    for (std::uint32_t found = 0; found < tracks && !in.AtEnd();) {
        const bool track = in.Tag("MTrk");
        if (!track && !in.Skip(4)) {
            return TuneCheck::Broken;
        }
        if (!in.BigEndian(4, size) || size > in.Left()) {
            return TuneCheck::Broken;
        }
        const auto body = in.Take(size);
        if (track) {
            ++found;
            if (CheckTrack(body, has_note) == TuneCheck::Broken) {
                return TuneCheck::Broken;
            }
        }
    }
    return has_note ? TuneCheck::Playable : TuneCheck::Silent;
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
        sdl::ReleaseAudio();
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

std::uint32_t ReadTune(const std::string& path, std::vector<unsigned char>& tune) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) {
        return MCIERR_FILE_NOT_FOUND;
    }
    if (!fs::is_regular_file(status)) {
        return MCIERR_INVALID_FILE;
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        return MCIERR_FILE_READ;
    }
    if (size > kLargestFile) {
        return MCIERR_INVALID_FILE;
    }
    std::ifstream file(path, std::ios::binary);
    tune.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return file.bad() || !file.is_open() ? MCIERR_FILE_READ : 0;
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
    SDL_AudioSpec wanted{};
    wanted.freq = kRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kChannels;
    wanted.samples = kBufferFrames;
    wanted.callback = Render;
    wanted.userdata = &s;
    s.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    return s.device == 0 ? MCIERR_HARDWARE : 0;
}

} // namespace

std::uint32_t Open(const std::string& path) {
    Sequencer& s = State();
    Release(s);
    if (const std::uint32_t error = ReadTune(ResolveCase(path), s.tune)) {
        Release(s);
        return error;
    }
    std::span<const unsigned char> smf(s.tune);
    std::uint32_t error = 0;
    switch (CheckTune(smf)) {
    case TuneCheck::Playable:
        // A machine without audio is told so before the sound font is loaded, not after.
        s.audio_acquired = sdl::AcquireAudio();
        error = s.audio_acquired ? OpenSynth(s, smf) : MCIERR_HARDWARE;
        break;
    case TuneCheck::Silent:
    case TuneCheck::Broken:
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
