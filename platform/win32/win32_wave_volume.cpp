// The chime's own volume on Windows. Below 100 the WAV file is read into memory, its PCM samples
// are scaled there and the copy is played; at 100 PlaySoundA plays the file itself as it always
// did. The system's volume is never touched.

#include "platform/core/sample_volume.h"
#include "platform/win32/win32_backend.h"

#include <algorithm>
#include <cstring>

namespace platform {

void SetWaveVolume(int percent) {
    win32::State().wave_volume = std::clamp(percent, 0, 100);
}

namespace win32 {

namespace {

// An hour's sound is a few seconds long; a file far bigger is played from disk as it is.
constexpr LONGLONG kMaxWaveBytes = 64 * 1024 * 1024;

std::uint32_t LittleEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
    }
    return value;
}

// Scales the data chunk of an 8- or 16-bit PCM WAV image. Anything else (compressed formats,
// float or 24-bit samples, a damaged header) is left alone and reported, so that the file
// plays from disk at its own level rather than not at all.
bool ScaleWave(std::vector<std::uint8_t>& wave, int percent) {
    if (wave.size() < 12 || std::memcmp(wave.data(), "RIFF", 4) != 0 ||
        std::memcmp(wave.data() + 8, "WAVE", 4) != 0) {
        return false;
    }
    int bits = 0;
    for (std::size_t at = 12; at + 8 <= wave.size();) {
        const std::size_t body = at + 8;
        const std::size_t length =
            std::min<std::size_t>(LittleEndian(wave, at + 4, 4), wave.size() - body);
        if (std::memcmp(&wave[at], "fmt ", 4) == 0 && length >= 16) {
            const bool pcm = LittleEndian(wave, body, 2) == WAVE_FORMAT_PCM;
            bits = pcm ? static_cast<int>(LittleEndian(wave, body + 14, 2)) : 0;
        } else if (std::memcmp(&wave[at], "data", 4) == 0) {
            if (bits != 8 && bits != 16) {
                return false;
            }
            core::ScaleSamples(&wave[body], length, bits, percent);
            return true;
        }
        // Chunks are padded to an even length.
        at = body + length + (length & 1);
    }
    return false;
}

} // namespace

// CreateFileW opens a path in any script, which wine's PlaySoundW cannot. A file that cannot
// be read or scaled is left to the caller, which plays it (or the default sound for a missing
// one) at its own level.
bool PlayScaledWave(const std::wstring& path, std::uint32_t flags) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::vector<std::uint8_t> wave;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= kMaxWaveBytes) {
        wave.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, wave.data(), static_cast<DWORD>(wave.size()), &read, nullptr)) {
            read = 0;
        }
        wave.resize(read);
    }
    CloseHandle(file);
    if (!ScaleWave(wave, State().wave_volume)) {
        return false;
    }
    // PlaySound reads a memory image while it plays: the sound playing is stopped before its
    // buffer is freed, and the new buffer is kept until the next sound replaces it.
    ::PlaySoundW(nullptr, nullptr, 0);
    State().playing_wave = std::move(wave);
    return ::PlaySoundW(reinterpret_cast<LPCWSTR>(State().playing_wave.data()), nullptr,
                        SND_MEMORY | (flags & ~SND_FILENAME)) != 0;
}

} // namespace win32

} // namespace platform
