#include "platform/sound/sdl_audio.h"

#include <SDL.h>
#include <mutex>

namespace platform::sound {

namespace {
std::mutex& AudioLock() {
    static std::mutex lock;
    return lock;
}
} // namespace

bool AcquireAudio() {
    std::lock_guard guard(AudioLock());
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void ReleaseAudio() {
    std::lock_guard guard(AudioLock());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

} // namespace platform::sound
