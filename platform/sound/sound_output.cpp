#include "platform/sound/sound_output.h"

#include "platform/core/sample_volume.h"
#include "platform/sound/alert.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace platform::sound {

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
// A small buffer keeps the sound prompt: the sound server gets it within a few milliseconds.
constexpr int kBufferFrames = 256;
constexpr auto kRetry = std::chrono::milliseconds(200);

void FillCallback(void* output, Uint8* stream, int length) {
    static_cast<Output*>(output)->Fill(stream, length);
}

// Decodes a WAV image into the output's format; empty when it is no WAV that SDL can read.
std::vector<std::int16_t> Decode(const std::string& wave) {
    SDL_AudioSpec format{};
    Uint8* data = nullptr;
    Uint32 length = 0;
    SDL_RWops* source = SDL_RWFromConstMem(wave.data(), static_cast<int>(wave.size()));
    if (source == nullptr || SDL_LoadWAV_RW(source, 1, &format, &data, &length) == nullptr) {
        return {};
    }
    std::vector<std::int16_t> samples;
    SDL_AudioCVT convert{};
    if (SDL_BuildAudioCVT(&convert, format.format, format.channels, format.freq, AUDIO_S16SYS,
                          kChannels, kRate) >= 0) {
        std::vector<Uint8> buffer(static_cast<std::size_t>(length) * std::max(convert.len_mult, 1));
        std::memcpy(buffer.data(), data, length);
        convert.buf = buffer.data();
        convert.len = static_cast<int>(length);
        if (SDL_ConvertAudio(&convert) == 0) {
            samples.resize(static_cast<std::size_t>(convert.len_cvt) / sizeof(std::int16_t));
            std::memcpy(samples.data(), buffer.data(), samples.size() * sizeof(std::int16_t));
        }
    }
    SDL_FreeWAV(data);
    return samples;
}

} // namespace

Output::~Output() {
    Close();
    SDL_Quit();
}

void Output::KeepOpen() {
    if (device_ != 0 && SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_PLAYING) {
        // The sound server went away or the device was unplugged: SDL keeps the device's slot
        // but plays nothing into it any more. A new audio subsystem finds the server again.
        Close();
    }
    const auto now = std::chrono::steady_clock::now();
    if (device_ != 0 || now < next_attempt_) {
        return;
    }
    next_attempt_ = now + kRetry;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        return;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = kRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kChannels;
    wanted.samples = kBufferFrames;
    wanted.callback = FillCallback;
    wanted.userdata = this;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (device_ == 0) {
        // No output at all (no server, no device): silent, and tried again later.
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    SDL_PauseAudioDevice(device_, 0);
}

bool Output::Ready() const {
    return device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_PLAYING;
}

std::chrono::milliseconds Output::Play(const std::optional<std::string>& wave, bool no_default,
                                       int volume) {
    std::vector<std::int16_t> next;
    if (wave) {
        next = Decode(*wave);
    }
    if (next.empty() && !no_default) {
        next = Decode(AlertWave());
    }
    // Scaled in the samples themselves: the system's volume and other programs' sound stay as
    // they are.
    core::ScaleSamples(reinterpret_cast<std::uint8_t*>(next.data()),
                       next.size() * sizeof(std::int16_t), 16, volume);
    const auto length = std::chrono::milliseconds(next.size() / kChannels * 1000 / kRate);
    SDL_LockAudioDevice(device_);
    samples_.swap(next);
    position_ = 0;
    SDL_UnlockAudioDevice(device_);
    return length;
}

void Output::Silence() {
    if (device_ == 0) {
        return;
    }
    SDL_LockAudioDevice(device_);
    samples_.clear();
    position_ = 0;
    SDL_UnlockAudioDevice(device_);
}

void Output::Fill(std::uint8_t* stream, int length) {
    const std::size_t wanted = static_cast<std::size_t>(length) / sizeof(std::int16_t);
    const std::size_t take = std::min(wanted, samples_.size() - position_);
    if (take > 0) {
        std::memcpy(stream, samples_.data() + position_, take * sizeof(std::int16_t));
    }
    std::memset(stream + take * sizeof(std::int16_t), 0,
                static_cast<std::size_t>(length) - take * sizeof(std::int16_t));
    position_ += take;
}

void Output::Close() {
    if (device_ == 0) {
        return;
    }
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    samples_.clear();
    position_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

} // namespace platform::sound
