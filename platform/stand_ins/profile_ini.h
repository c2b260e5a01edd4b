#pragma once

// The text of a profile file: "[Section]" header lines and "Key=Value" lines, looked up and
// edited as the Windows functions do it. Names match whatever their case; only the first section
// of a name counts, and within it the first key of a name.

#include "platform/platform.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::stand_ins {

inline constexpr std::string_view kBlanks = " \t\v\f\r";
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A section name, a key or a value without the blanks the Windows functions drop at either end.
inline std::string_view Unpadded(std::string_view text) {
    return platform::Trim(text, kBlanks);
}

// Where a section and a key stand in the text. Offsets are bytes into the text.
struct Lookup {
    bool section_found = false;
    std::size_t section_begin = 0; // start of the header line
    std::size_t section_end = 0;   // start of the next header line, or the end of the text
    std::size_t key_insert = 0;    // just after the last non-blank line of the section
    bool key_found = false;
    std::size_t key_begin = 0; // the key line, without its line end
    std::size_t key_end = 0;
    std::size_t key_next = 0; // start of the line after the key line
    std::string_view key_name;
    std::string_view value;
};

Lookup Find(std::string_view text, std::string_view section, std::string_view key);

// Text that would break the line structure of the file cannot be written.
bool Writable(std::string_view section, std::string_view key, std::string_view value);

// Returns the text with the change applied. A null key removes the section, a null value
// removes the key, as the Win32 function does.
std::string Edit(const std::string& text, const char* section, const char* key, const char* value);

} // namespace platform::stand_ins
