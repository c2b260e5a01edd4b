#pragma once

// The MIDI sequencer behind the MCI "sequencer" device. The MCI command strings are
// interpreted once (mci_strings.cpp); the sound comes from a backend of this interface
// (fluidsynth_sequencer.cpp on Linux, fake_sequencer.cpp in the unit tests).
// Every function returns 0 or an MCI error code. There is one sequencer: Open replaces
// whatever tune was open before.

#include <cstdint>
#include <string>

namespace platform {

// The MCI error codes that the Linux side can return, numbered as Windows numbers them. On
// Windows the real MCI returns them, and mciGetErrorStringW gives their texts.
inline constexpr std::uint32_t MCIERR_BASE = 256;
inline constexpr std::uint32_t MCIERR_UNRECOGNIZED_KEYWORD = MCIERR_BASE + 3;
inline constexpr std::uint32_t MCIERR_UNRECOGNIZED_COMMAND = MCIERR_BASE + 5;
inline constexpr std::uint32_t MCIERR_HARDWARE = MCIERR_BASE + 6;
inline constexpr std::uint32_t MCIERR_INVALID_DEVICE_NAME = MCIERR_BASE + 7;
inline constexpr std::uint32_t MCIERR_OUT_OF_MEMORY = MCIERR_BASE + 8;
inline constexpr std::uint32_t MCIERR_MISSING_COMMAND_STRING = MCIERR_BASE + 11;
inline constexpr std::uint32_t MCIERR_MISSING_STRING_ARGUMENT = MCIERR_BASE + 13;
inline constexpr std::uint32_t MCIERR_MISSING_PARAMETER = MCIERR_BASE + 17;
inline constexpr std::uint32_t MCIERR_UNSUPPORTED_FUNCTION = MCIERR_BASE + 18;
inline constexpr std::uint32_t MCIERR_FILE_NOT_FOUND = MCIERR_BASE + 19;
inline constexpr std::uint32_t MCIERR_DEVICE_NOT_READY = MCIERR_BASE + 20;
inline constexpr std::uint32_t MCIERR_CANNOT_USE_ALL = MCIERR_BASE + 23;
inline constexpr std::uint32_t MCIERR_EXTENSION_NOT_FOUND = MCIERR_BASE + 25;
inline constexpr std::uint32_t MCIERR_DUPLICATE_ALIAS = MCIERR_BASE + 33;
inline constexpr std::uint32_t MCIERR_MISSING_DEVICE_NAME = MCIERR_BASE + 36;
inline constexpr std::uint32_t MCIERR_NO_CLOSING_QUOTE = MCIERR_BASE + 38;
inline constexpr std::uint32_t MCIERR_DUPLICATE_FLAGS = MCIERR_BASE + 39;
inline constexpr std::uint32_t MCIERR_INVALID_FILE = MCIERR_BASE + 40;
inline constexpr std::uint32_t MCIERR_NULL_PARAMETER_BLOCK = MCIERR_BASE + 41;
inline constexpr std::uint32_t MCIERR_FILENAME_REQUIRED = MCIERR_BASE + 48;
inline constexpr std::uint32_t MCIERR_EXTRA_CHARACTERS = MCIERR_BASE + 49;
inline constexpr std::uint32_t MCIERR_DEVICE_NOT_INSTALLED = MCIERR_BASE + 50;
inline constexpr std::uint32_t MCIERR_SEQ_PORT_INUSE = MCIERR_BASE + 81;
inline constexpr std::uint32_t MCIERR_SEQ_NOMIDIPRESENT = MCIERR_BASE + 87;
inline constexpr std::uint32_t MCIERR_FILE_READ = MCIERR_BASE + 92;

} // namespace platform

namespace platform::sequencer {

std::uint32_t Open(const std::string& path);
// With wait, returns once the tune has ended and its last notes have died away. A tune that
// has already played to its end stays there, as MCI's does: playing it again does nothing.
std::uint32_t Play(bool wait);
// Silences the tune where it is; a later Play goes on from there.
void Stop();
// True from Play until the tune has ended or been stopped or closed.
bool Playing();
void Close();

} // namespace platform::sequencer
