#include "platform/posix/path_case.h"

#include "platform/core/text.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <string_view>

namespace platform::posix {

std::string ResolveCase(const std::string& path) {
    // The common case, the file as the program names it, costs one stat and no folder scan.
    struct stat info {};
    if (path.empty() || ::lstat(path.c_str(), &info) == 0) {
        return path;
    }

    // Everything up to the last separator is kept exactly as given, so a doubled separator
    // ("//Velmorin.ini" for a program folder at the root) survives into the result.
    const std::size_t slash = path.rfind('/');
    const std::string prefix =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string_view name = std::string_view(path).substr(prefix.size());
    if (name.empty() || name == "." || name == "..") {
        return path;
    }

    DIR* folder = ::opendir(prefix.empty() ? "." : prefix.c_str());
    if (folder == nullptr) {
        return path;
    }
    // Two entries that differ only in case cannot both be the Windows file; taking the smallest
    // name makes the choice the same on every call, whatever order the folder lists them in.
    std::string match;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view candidate = entry->d_name;
        if (core::SameNameIgnoringCase(candidate, name) && (match.empty() || candidate < match)) {
            match = candidate;
        }
    }
    ::closedir(folder);
    return match.empty() ? path : prefix + match;
}

} // namespace platform::posix
