#include "platform/posix/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t max_bytes) {
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
    } else if (static_cast<std::size_t>(info.st_size) > max_bytes) {
        error = EFBIG;
    } else {
        text.emplace(static_cast<std::size_t>(info.st_size) + 1, '\0');
        std::size_t length = 0;
        // The file may grow while it is read; the loop stops at its end or at the limit.
        while (true) {
            if (length == text->size()) {
                if (text->size() > max_bytes) {
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

} // namespace platform::posix
