#include "platform/posix/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform::posix {

namespace {

// Up to `limit` bytes from the file's start. A longer file is an error unless only its start
// is wanted.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit,
                                           bool start_only) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> text;
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    } else if (!start_only && static_cast<std::size_t>(info.st_size) > limit) {
        error = EFBIG;
    } else {
        const auto size = static_cast<std::size_t>(info.st_size);
        text.emplace(start_only ? std::min(size, limit) : size + 1, '\0');
        std::size_t length = 0;
        // The file may grow while it is read; the loop stops at its end or at the limit.
        while (true) {
            if (length == text->size()) {
                if (start_only) {
                    break;
                }
                if (text->size() > limit) {
                    error = EFBIG;
                    break;
                }
                text->resize(text->size() * 2);
            }
            const ssize_t got = ::read(fd, text->data() + length, text->size() - length);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                error = errno;
                break;
            }
            if (got == 0) {
                break;
            }
            length += static_cast<std::size_t>(got);
        }
        text->resize(length);
    }
    ::close(fd);
    if (error != 0) {
        text.reset();
        // The reason is what the caller's LastErrorText shows; close must not replace it.
        errno = error;
    }
    return text;
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t max_bytes) {
    return ReadRegularFile(path, max_bytes, false);
}

std::optional<std::string> ReadFileStart(const std::string& path, std::size_t bytes) {
    return ReadRegularFile(path, bytes, true);
}

} // namespace platform::posix
