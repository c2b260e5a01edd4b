// The Windows profile functions for a machine that has none. The file keeps the Windows layout
// (CRLF line ends, "[Section]" and "Key=Value" lines) so that one program folder serves the Linux
// and the Windows build, and every write replaces the file in one rename so that a copy polling
// the quit request never sees a half-written value.

#include "platform/platform.h"
#include "platform/portable/posix_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

namespace {

// A profile file is a few lines; anything far bigger is not one, and reading it on every tick
// would stall the program.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\v\f\r";

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

enum class FileState { Missing, Read, Unusable };

// Reads a whole regular file. Anything else at the path (a folder, a pipe, a device) is
// unusable: opening without blocking keeps a pipe from hanging the caller.
FileState ReadWholeFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return (errno == ENOENT || errno == ENOTDIR) ? FileState::Missing : FileState::Unusable;
    }
    struct stat info {};
    FileState state = FileState::Unusable;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::size_t>(info.st_size) <= kMaxFileBytes) {
        text.resize(static_cast<std::size_t>(info.st_size) + 1);
        std::size_t length = 0;
        state = FileState::Read;
        // The file may grow while it is read; the loop stops at its end or at the limit.
        while (true) {
            if (length == text.size()) {
                if (text.size() > kMaxFileBytes) {
                    state = FileState::Unusable;
                    break;
                }
                text.resize(text.size() * 2);
            }
            const ssize_t got = ::read(fd, text.data() + length, text.size() - length);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                state = FileState::Unusable;
                break;
            }
            if (got == 0) {
                break;
            }
            length += static_cast<std::size_t>(got);
        }
        text.resize(length);
    }
    ::close(fd);
    if (state != FileState::Read) {
        text.clear();
    }
    return state;
}

// Where a section and a key stand in the text of a profile file. Offsets are bytes into the
// text; only the first section of a name counts, and within it the first key of a name, as on
// Windows.
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

Lookup Find(std::string_view text, std::string_view section, std::string_view key) {
    Lookup found;
    bool inside = false;
    std::size_t begin = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    while (begin < text.size()) {
        const std::size_t newline = text.find('\n', begin);
        const std::size_t next = newline == std::string_view::npos ? text.size() : newline + 1;
        std::size_t end = newline == std::string_view::npos ? text.size() : newline;
        if (end > begin && text[end - 1] == '\r') {
            --end;
        }
        const std::string_view line = Trim(text.substr(begin, end - begin));

        if (line.starts_with('[')) {
            if (inside) {
                found.section_end = begin;
                return found;
            }
            const std::string_view name = Trim(line.substr(1, line.find(']') - 1));
            if (!found.section_found && SameNameIgnoringCase(name, section)) {
                found.section_found = inside = true;
                found.section_begin = begin;
                found.key_insert = next;
            }
        } else if (inside && !line.empty()) {
            found.key_insert = next;
            // A line without "=" names no key: reading it gives the default, which for the quit
            // request is the harmless "0".
            const std::size_t equals = line.find('=');
            if (!line.starts_with(';') && equals != std::string_view::npos && !found.key_found &&
                SameNameIgnoringCase(Trim(line.substr(0, equals)), key)) {
                found.key_found = true;
                found.key_begin = begin;
                found.key_end = end;
                found.key_next = next;
                found.key_name = Trim(line.substr(0, equals));
                found.value = Trim(line.substr(equals + 1));
            }
        }
        begin = next;
    }
    found.section_end = text.size();
    return found;
}

// Text that would break the line structure of the file cannot be written.
bool Writable(std::string_view section, std::string_view key, std::string_view value) {
    const auto has_line_end = [](std::string_view s) {
        return s.find_first_of("\r\n") != std::string_view::npos;
    };
    if (has_line_end(section) || has_line_end(key) || has_line_end(value)) {
        return false;
    }
    const std::string_view trimmed_key = Trim(key);
    return !Trim(section).empty() && section.find(']') == std::string_view::npos &&
           !trimmed_key.empty() && key.find('=') == std::string_view::npos &&
           !trimmed_key.starts_with('[') && !trimmed_key.starts_with(';');
}

// The file's own line ends are kept; a new file gets the CRLF that Windows writes.
std::string_view LineEnd(std::string_view text) {
    const std::size_t newline = text.find('\n');
    return (newline != std::string_view::npos && (newline == 0 || text[newline - 1] != '\r'))
               ? "\n"
               : "\r\n";
}

// Makes a line start at `at` by adding a line end when the text before it has none.
std::string LineStart(std::string_view text, std::size_t at, std::string_view line_end) {
    const std::size_t start = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    return (at > start && text[at - 1] != '\n') ? std::string(line_end) : std::string();
}

// Returns the text with the change applied. A null key removes the section, a null value
// removes the key, as the Win32 function does.
std::string Edit(const std::string& text, const char* section, const char* key, const char* value) {
    const std::string_view section_name = Trim(section);
    const Lookup found = Find(text, section_name, key == nullptr ? std::string_view() : Trim(key));
    const std::string_view line_end = LineEnd(text);
    std::string edited = text;

    if (key == nullptr) {
        if (found.section_found) {
            edited.erase(found.section_begin, found.section_end - found.section_begin);
        }
    } else if (value == nullptr) {
        if (found.key_found) {
            edited.erase(found.key_begin, found.key_next - found.key_begin);
        }
    } else if (found.key_found) {
        edited.replace(found.key_begin, found.key_end - found.key_begin,
                       std::string(found.key_name) + "=" + value);
    } else if (found.section_found) {
        edited.insert(found.key_insert, LineStart(text, found.key_insert, line_end) +
                                            std::string(Trim(key)) + "=" + value +
                                            std::string(line_end));
    } else {
        edited += LineStart(text, text.size(), line_end) + "[" + std::string(section_name) + "]" +
                  std::string(line_end) + std::string(Trim(key)) + "=" + value +
                  std::string(line_end);
    }
    return edited;
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::write(fd, text.data(), text.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

// Replaces the file at `target` by one holding `text`: the text goes to a new file in the same
// folder, which then takes the place of the old one in one rename. A reader opens either the old
// file or the new one, never a partial one, and a crash leaves one of the two. The new file gets
// the old one's permission bits and owner; a file that did not exist gets the umask's.
bool ReplaceFile(const std::string& target, std::string_view text, const struct stat* old_info) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = target.substr(folder.size());

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                    std::to_string(counter++) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }

    bool ok = true;
    if (old_info != nullptr) {
        // Only root may give the file away; anyone else keeps the owner as it is.
        if (old_info->st_uid != ::geteuid() || old_info->st_gid != ::getegid()) {
            [[maybe_unused]] const int ignored = ::fchown(fd, old_info->st_uid, old_info->st_gid);
        }
        ok = ::fchmod(fd, old_info->st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

} // namespace

std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* default_value, char* buffer, std::uint32_t size,
                                       const char* file_name) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    // Windows drops the blanks at the end of the default too.
    std::string_view result = default_value == nullptr ? std::string_view() : default_value;
    result = result.substr(0, result.find_last_not_of(kBlanks) + 1);

    std::string text;
    if (section != nullptr && key != nullptr && file_name != nullptr &&
        ReadWholeFile(ResolveCase(file_name), text) == FileState::Read) {
        const Lookup found = Find(text, Trim(section), Trim(key));
        if (found.key_found) {
            result = found.value;
            if (result.size() >= 2 && result.front() == '"' && result.back() == '"') {
                result = result.substr(1, result.size() - 2);
            }
        }
    }

    const std::size_t length = std::min<std::size_t>(result.size(), size - 1);
    if (length > 0) {
        std::memcpy(buffer, result.data(), length);
    }
    buffer[length] = '\0';
    return static_cast<std::uint32_t>(length);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file_name) {
    if (section == nullptr || file_name == nullptr || *file_name == '\0' ||
        !Writable(section, key == nullptr ? "k" : key, value == nullptr ? "" : value)) {
        return false;
    }

    std::string target = ResolveCase(file_name);
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

    std::string text;
    const FileState state = ReadWholeFile(target, text);
    if (state == FileState::Unusable || (exists && state != FileState::Read)) {
        return false;
    }
    const std::string edited = Edit(text, section, key, value);
    if (edited == text) {
        return true;
    }
    return ReplaceFile(target, edited, exists ? &info : nullptr);
}

} // namespace platform
