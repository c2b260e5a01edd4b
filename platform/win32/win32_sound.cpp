#include "platform/win32/win32_backend.h"

namespace platform {

// SND_FILENAME | SND_ASYNC as the program asks: Windows reads the file while it plays and
// plays its default sound for a file that is missing.
bool PlaySoundA(const char* sound, void* module, std::uint32_t flags) {
    // Words waiting to follow a sound are dropped with it, as the Linux helper drops them.
    win32::State().speech.clear();
    if (sound == nullptr) {
        return ::PlaySoundW(nullptr, static_cast<HMODULE>(module), flags) != 0;
    }
    std::wstring name = win32::Wide(sound);
    win32::State().sound_path = name;
    win32::State().sound_started_ms = GetTickCount64();
    if ((flags & SND_FILENAME) && win32::State().wave_volume < 100 &&
        win32::PlayScaledWave(name, flags)) {
        return true;
    }
    if (flags & SND_FILENAME) {
        name = win32::MultimediaPath(name);
    }
    return ::PlaySoundW(name.c_str(), static_cast<HMODULE>(module), flags) != 0;
}

} // namespace platform
