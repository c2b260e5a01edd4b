#pragma once

#include <string>

namespace platform::posix {

// Windows ignores the case of file names and the program names its files in upper case
// ("03.WAV"). Returns the path itself when it exists; otherwise the entry of its folder whose
// name matches whatever its case; otherwise the path unchanged.
std::string ResolveCase(const std::string& path);

} // namespace platform::posix
