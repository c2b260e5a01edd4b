// The sequencer of the window program: velmorin-tune.so beside the program, loaded the first time
// a tune is opened, so that the control window comes up without FluidSynth and SDL.

#include "platform/platform.h"
#include "platform/sound/tune_module.h"
#include "platform/stand_ins/sequencer.h"

#include <dlfcn.h>

namespace platform::sequencer {

namespace {

// Without the module the window program plays no tune, as on a machine without a MIDI device.
const VelmorinTuneModule* Module() {
    static const VelmorinTuneModule* module = [] {
        const std::string path = ProgramFolder() + "/velmorin-tune.so";
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return static_cast<const VelmorinTuneModule*>(nullptr);
        }
        const auto* table =
            static_cast<const VelmorinTuneModule*>(::dlsym(library, "velmorin_tune_module"));
        return table != nullptr && table->version == kVelmorinTuneModuleVersion ? table : nullptr;
    }();
    return module;
}

} // namespace

std::uint32_t Open(const std::string& path) {
    return Module() != nullptr ? Module()->open(path.c_str()) : MCIERR_DEVICE_NOT_INSTALLED;
}

std::uint32_t Play(bool wait) {
    return Module() != nullptr ? Module()->play(wait) : MCIERR_DEVICE_NOT_INSTALLED;
}

void Stop() {
    if (Module() != nullptr) {
        Module()->stop();
    }
}

bool Playing() {
    return Module() != nullptr && Module()->playing();
}

void Close() {
    if (Module() != nullptr) {
        Module()->close();
    }
}

} // namespace platform::sequencer
