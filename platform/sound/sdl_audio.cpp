#include "platform/sound/sdl_audio.h"

#include <SDL.h>

namespace platform::sound {

bool AcquireAudio() {
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void ReleaseAudio() {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::uint32_t OpenOutput(FillFunction fill, void* userdata, int frames) {
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    wanted.samples = static_cast<Uint16>(frames);
    wanted.callback = fill;
    wanted.userdata = userdata;
    return SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
}

} // namespace platform::sound
