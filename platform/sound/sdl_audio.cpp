#include "platform/sound/sdl_audio.h"

#include <SDL.h>

namespace platform::sound {

bool AcquireAudio(const char* drivers) {
    // How the sound server and the desktop's volume mixer name the program's streams; else
    // "SDL Application" on some drivers. SDL_APP_NAME set by the user still wins.
    SDL_SetHint(SDL_HINT_APP_NAME, "Velmorin");
    SDL_SetHint(SDL_HINT_AUDIODRIVER, drivers);
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void ReleaseAudio() {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::uint32_t OpenOutput(FillFunction fill, void* userdata, int frames, int rate) {
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    wanted.samples = static_cast<Uint16>(frames);
    wanted.callback = fill;
    wanted.userdata = userdata;
    return SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
}

const char* AudioDriver() {
    const char* driver = SDL_GetCurrentAudioDriver();
    return driver != nullptr ? driver : "";
}

} // namespace platform::sound
