#pragma once

namespace platform::posix {

// Whether the PulseAudio server that libpulse would reach is PipeWire's pulse server: a process
// named pipewire-pulse (or pipewire, which can load it as a module) holds the socket that
// PULSE_SERVER or the runtime folder names. False when that cannot be told: another user's
// server, a network server, no /proc.
bool PulseServerIsPipeWire();

} // namespace platform::posix
