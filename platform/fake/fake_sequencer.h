#pragma once

// The sequencer of the unit tests: it plays nothing and records what it was asked to do.

#include <string>
#include <vector>

namespace fake {

// One entry per call, in order: "open <path as given>", "play", "play wait", "stop", "close".
std::vector<std::string>& SequencerCalls();

} // namespace fake
