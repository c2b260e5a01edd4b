#pragma once

// Text rules every backend shares.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::core {

// Names as Windows compares file, section, key and MCI names: ASCII letters fold to lower case,
// every other byte stays as it is.
std::string FoldCase(std::string_view text);
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// Copies a UTF-8 text into a caller's buffer of `size` bytes, as the Windows functions fill
// theirs: cut to fit with room for the terminating code 0, never inside a character. Returns the
// bytes copied; nothing is written into a missing or empty buffer.
std::uint32_t CopyOut(std::string_view text, char* buffer, std::uint32_t size);

} // namespace platform::core
