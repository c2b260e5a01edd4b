#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace platform::posix {

// Reads a whole regular file without ever blocking: a pipe with no writer, a device or a folder
// under the name is no file, and neither is one larger than `max_bytes`. Nothing (an empty
// optional) when the file cannot be read whole; errno then says why.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t max_bytes);
// The first `bytes` of a regular file, or all of a shorter one, read the same way.
std::optional<std::string> ReadFileStart(const std::string& path, std::size_t bytes);

} // namespace platform::posix
