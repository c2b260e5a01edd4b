#pragma once

#include <string>
#include <string_view>

namespace platform {

// Windows ignores the case of file names and the program names its files in upper case
// ("03.WAV"). Returns the path itself when it exists; otherwise the entry of its folder whose
// name matches whatever its case; otherwise the path unchanged.
std::string ResolveCase(const std::string& path);

// Names compared as Windows compares file, section and key names: ASCII letters fold to one
// case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

} // namespace platform
