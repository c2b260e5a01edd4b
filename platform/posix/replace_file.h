#pragma once

#include <string>
#include <string_view>

struct stat;

namespace platform::posix {

// Replaces the file at `target` by one holding `text`: the text goes to a new file in the same
// folder, which then takes the place of the old one in one rename. A reader opens either the old
// file or the new one, never a partial one, and a crash leaves one of the two. The new file gets
// the old one's permission bits and owner (from `old_info`); a file that did not exist gets the
// umask's. False with errno set when it could not be done; nothing is left behind then.
bool ReplaceFile(const std::string& target, std::string_view text, const struct stat* old_info);

} // namespace platform::posix
