// velmorin-tune.so: the About tune's sequencer (FluidSynth on SDL's audio output) as a module
// that the window program loads the first time the tune is opened. FluidSynth and SDL bring some
// sixty libraries with them; loaded at start-up they would hold up the control window by tens of
// milliseconds, though most copies that show it never play the tune.

#include "platform/sound/tune_module.h"
#include "platform/stand_ins/sequencer.h"

// Declared extern so that the constant has external linkage and is exported.
extern "C" __attribute__((visibility("default"))) const VelmorinTuneModule velmorin_tune_module;

extern "C" {

const VelmorinTuneModule velmorin_tune_module = {
    kVelmorinTuneModuleVersion,
    [](const char* path) { return platform::sequencer::Open(path); },
    [](bool wait) { return platform::sequencer::Play(wait); },
    [] { platform::sequencer::Stop(); },
    [] { return platform::sequencer::Playing(); },
    [] { platform::sequencer::Close(); },
};

} // extern "C"
