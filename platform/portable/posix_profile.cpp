// The Windows profile functions for a machine that has none. The file keeps the Windows layout
// ("[Section]" and "Key=Value" lines, CRLF in a new file) so that one program folder serves the
// Linux and the Windows build, and every write replaces the file in one rename so that a copy
// polling the quit request never sees a half-written value. Files that Windows users make are
// read as Windows reads them: UTF-16 with a byte-order mark (Notepad's "Unicode"), UTF-8 with
// one, and CR, LF or CRLF line ends; a write keeps the file's encoding and line ends.

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
    int error = 0;
    if (::fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    } else if (static_cast<std::size_t>(info.st_size) > kMaxFileBytes) {
        error = EFBIG;
    } else {
        text.resize(static_cast<std::size_t>(info.st_size) + 1);
        std::size_t length = 0;
        state = FileState::Read;
        // The file may grow while it is read; the loop stops at its end or at the limit.
        while (true) {
            if (length == text.size()) {
                if (text.size() > kMaxFileBytes) {
                    state = FileState::Unusable;
                    error = EFBIG;
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
                error = errno;
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
        // The reason is what the caller's LastErrorText shows; close must not replace it.
        errno = error;
    }
    return state;
}

enum class Encoding { Bytes, Utf16Le, Utf16Be };

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

void PutUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A UTF-16 file is edited as UTF-8. A surrogate without its partner keeps its own three-byte
// form, so that a write gives it back unchanged; a last odd byte is no character and is dropped.
std::string FromUtf16(std::string_view bytes, Encoding encoding) {
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return encoding == Encoding::Utf16Le ? (second << 8 | first) : (first << 8 | second);
    };
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        PutUtf8(text, code);
    }
    return text;
}

// Text from the caller that is not UTF-8 becomes U+FFFD, one for each byte that fits nowhere.
// A lone surrogate in its three-byte form goes back as the unit it came from.
std::string ToUtf16(std::string_view text, Encoding encoding) {
    std::string bytes(encoding == Encoding::Utf16Le ? kUtf16LeMark : kUtf16BeMark);
    bytes.reserve(2 + text.size() * 2);
    const auto put = [&](std::uint32_t unit) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += encoding == Encoding::Utf16Le ? low : high;
        bytes += encoding == Encoding::Utf16Le ? high : low;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = 0;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            length = 2;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            length = 4;
        }
        std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || code < smallest[length] || code > 0x10FFFF) {
            put(0xFFFD);
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
        i += static_cast<std::size_t>(length);
    }
    return bytes;
}

Encoding EncodingOf(std::string_view bytes) {
    if (bytes.starts_with(kUtf16LeMark)) {
        return Encoding::Utf16Le;
    }
    return bytes.starts_with(kUtf16BeMark) ? Encoding::Utf16Be : Encoding::Bytes;
}

std::string Decode(std::string bytes, Encoding encoding) {
    return encoding == Encoding::Bytes ? bytes : FromUtf16(bytes, encoding);
}

std::string Encode(std::string text, Encoding encoding) {
    return encoding == Encoding::Bytes ? text : ToUtf16(text, encoding);
}

// Where the line that starts at `begin` ends (before its line end) and where the next one
// starts. CRLF, LF and a lone CR each end a line, as for the Windows functions.
struct Line {
    std::size_t end;
    std::size_t next;
};

Line LineAt(std::string_view text, std::size_t begin) {
    const std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string_view::npos) {
        return {text.size(), text.size()};
    }
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    return {end, end + (crlf ? 2 : 1)};
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
        const auto [end, next] = LineAt(text, begin);
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

// The file's own line ends, as its first line shows them, are kept; a new file gets the CRLF
// that Windows writes.
std::string_view LineEnd(std::string_view text) {
    const Line first = LineAt(text, 0);
    if (first.end == text.size()) {
        return "\r\n";
    }
    return text.substr(first.end, first.next - first.end);
}

// Makes a line start at `at` by adding a line end when the text before it has none.
std::string LineStart(std::string_view text, std::size_t at, std::string_view line_end) {
    const std::size_t start = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    return (at > start && text[at - 1] != '\n' && text[at - 1] != '\r') ? std::string(line_end)
                                                                        : std::string();
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
            if (put == 0) {
                errno = EIO;
            }
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
        errno = EEXIST;
        return false;
    }

    // The first failure is the reason; what is tidied up after it must not replace it.
    int error = 0;
    const auto failed = [&error] {
        if (error == 0) {
            error = errno;
        }
        return false;
    };
    bool ok = true;
    if (old_info != nullptr) {
        // Only root may give the file away; anyone else keeps the owner as it is.
        if (old_info->st_uid != ::geteuid() || old_info->st_gid != ::getegid()) {
            [[maybe_unused]] const int ignored = ::fchown(fd, old_info->st_uid, old_info->st_gid);
        }
        ok = ::fchmod(fd, old_info->st_mode & 07777) == 0 || failed();
    }
    ok = ok && ((WriteAll(fd, text) && ::fsync(fd) == 0) || failed());
    ok = (::close(fd) == 0 || failed()) && ok;
    ok = ok && (::rename(temporary.c_str(), target.c_str()) == 0 || failed());
    if (!ok) {
        ::unlink(temporary.c_str());
        errno = error;
    }
    return ok;
}

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

    std::string text;
    if (section != nullptr && key != nullptr && file_name != nullptr &&
        ReadWholeFile(ResolveCase(file_name), text) == FileState::Read) {
        const Encoding encoding = EncodingOf(text);
        text = Decode(std::move(text), encoding);
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
        errno = EINVAL;
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
    if (!exists && errno != ENOENT) {
        return false;
    }

    std::string bytes;
    const FileState state = ReadWholeFile(target, bytes);
    if (state == FileState::Unusable || (exists && state != FileState::Read)) {
        return false;
    }
    const Encoding encoding = EncodingOf(bytes);
    const std::string text = Decode(bytes, encoding);
    const std::string edited = Edit(text, section, key, value);
    if (edited == text) {
        return true;
    }
    return ReplaceFile(target, Encode(edited, encoding), exists ? &info : nullptr);
}

} // namespace platform
