// The Windows profile functions for a machine that has none. The file keeps the Windows layout
// ("[Section]" and "Key=Value" lines, CRLF in a new file) so that one program folder serves the
// Linux and the Windows build, and every write replaces the file in one rename so that a copy
// polling the quit request never sees a half-written value. Files that Windows users make are
// read as Windows reads them: UTF-16 with a byte-order mark (Notepad's "Unicode"), UTF-8 with
// one, and CR, LF or CRLF line ends; a write keeps the file's encoding and line ends.

#include "platform/core/text.h"
#include "platform/platform.h"
#include "platform/posix/path_case.h"
#include "platform/posix/replace_file.h"
#include "platform/posix/whole_file.h"
#include "platform/stand_ins/profile_ini.h"
#include "platform/stand_ins/profile_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

namespace {

using stand_ins::Encoding;
using stand_ins::kBlanks;
using stand_ins::Lookup;
using stand_ins::Unpadded;

// A profile file is a few lines; anything far bigger is not one, and reading it on every tick
// would stall the program.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

} // namespace

std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* default_value, char* buffer, std::uint32_t size,
                                       const char* file_name) {
    if (buffer == nullptr || size == 0) {
        errno = EINVAL;
        return 0;
    }
    // Windows drops the blanks at the end of the default too.
    std::string_view result = default_value == nullptr ? std::string_view() : default_value;
    result = result.substr(0, result.find_last_not_of(kBlanks) + 1);

    std::optional<std::string> text;
    if (section != nullptr && key != nullptr && file_name != nullptr &&
        (text = posix::ReadWholeFile(posix::ResolveCase(file_name), kMaxFileBytes))) {
        const Encoding encoding = stand_ins::EncodingOf(*text);
        text = stand_ins::Decode(std::move(*text), encoding);
        const Lookup found = stand_ins::Find(*text, Unpadded(section), Unpadded(key));
        if (found.key_found) {
            result = found.value;
            if (result.size() >= 2 && result.front() == '"' && result.back() == '"') {
                result = result.substr(1, result.size() - 2);
            }
        }
    }

    return core::CopyOut(result, buffer, size);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file_name) {
    if (section == nullptr || file_name == nullptr || *file_name == '\0' ||
        !stand_ins::Writable(section, key == nullptr ? "k" : key, value == nullptr ? "" : value)) {
        errno = EINVAL;
        return false;
    }

    std::string target = posix::ResolveCase(file_name);
    struct stat info {};
    const bool exists = ::lstat(target.c_str(), &info) == 0;
    if (exists && S_ISLNK(info.st_mode)) {
        // The write goes to the file the link names; replacing the link itself would cut it.
        char* real = ::realpath(target.c_str(), nullptr);
        if (real == nullptr) {
            return false;
        }
        target = real;
        std::free(real);
        if (::stat(target.c_str(), &info) != 0) {
            return false;
        }
    }
    // A file that Windows would refuse to write (read-only) is refused here too, although the
    // rename would only need rights on the folder.
    if (exists && !S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return false;
    }
    if (!exists && errno != ENOENT) {
        return false;
    }

    // A file that is gone by now is written anew; one that cannot be read is left alone.
    std::optional<std::string> read = posix::ReadWholeFile(target, kMaxFileBytes);
    if (!read && (exists || (errno != ENOENT && errno != ENOTDIR))) {
        return false;
    }
    const std::string bytes = read.value_or(std::string());
    const Encoding encoding = stand_ins::EncodingOf(bytes);
    const std::string text = stand_ins::Decode(bytes, encoding);
    const std::string edited = stand_ins::Edit(text, section, key, value);
    if (edited == text) {
        return true;
    }
    return posix::ReplaceFile(target, stand_ins::Encode(edited, encoding),
                              exists ? &info : nullptr);
}

} // namespace platform
