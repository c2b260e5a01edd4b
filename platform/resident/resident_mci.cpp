// The resident has no MIDI device: only a copy that shows the About window plays the tune, and
// that copy is the window program. Every command is answered as MCI answers one for a device
// that is not installed, so the resident links neither the MCI interpreter nor a sequencer.

#include "platform/core/text.h"
#include "platform/platform.h"
#include "platform/stand_ins/sequencer.h"

namespace platform {

std::uint32_t mciSendStringA(const char*, char* return_string, std::uint32_t return_length, void*) {
    core::CopyOut("", return_string, return_length);
    return MCIERR_DEVICE_NOT_INSTALLED;
}

} // namespace platform
