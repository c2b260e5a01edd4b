#include "platform/fake/fake.h"

namespace platform {

bool PlaySoundA(const char* sound, void*, std::uint32_t flags) {
    fake::RecordSound(sound, flags);
    return true;
}

} // namespace platform
