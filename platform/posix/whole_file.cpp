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
    std::optional<std::string> bytes;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        // errno is fstat's
    } else if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    } else if (static_cast<std::size_t>(info.st_size) > max_bytes) {
        errno = EFBIG;
    } else {
        bytes.emplace(static_cast<std::size_t>(info.st_size), '\0');
        std::size_t length = 0;
        while (length < bytes->size()) {
            const ssize_t got = ::read(fd, bytes->data() + length, bytes->size() - length);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                bytes.reset();
                break;
            }
            if (got == 0) {
                break;
            }
            length += static_cast<std::size_t>(got);
        }
        // A file cut short while it was read gives what was there; its reader judges it.
        if (bytes) {
            bytes->resize(length);
        }
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return bytes;
}

} // namespace platform::posix
