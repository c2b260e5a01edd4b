#include "shared/Module1.h"

#include "platform/platform.h"

#include <cstring>

namespace Module1 {

ProgramState& State() {
    static ProgramState state;
    return state;
}

void Reset() {
    State() = ProgramState{};
}

void PlayWave(const std::string& path) {
    // Without SND_NODEFAULT a missing sound file still gives the default alert, so the hour
    // is never passed over in silence.
    platform::PlaySoundA(path.c_str(), nullptr, platform::SND_FILENAME | platform::SND_ASYNC);
}

std::string SendMciCommand(const std::string& command) {
    char buffer[256] = {};
    // The result is kept whole: MCI error codes do not fit a 16-bit integer in every driver.
    const std::uint32_t result =
        platform::mciSendStringA(command.c_str(), buffer, sizeof buffer, nullptr);
    if (result != 0) {
        platform::mciGetErrorStringA(result, buffer, sizeof buffer);
    }
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

} // namespace Module1
