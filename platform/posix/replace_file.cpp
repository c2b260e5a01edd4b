#include "platform/posix/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform::posix {

namespace {

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

} // namespace

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

} // namespace platform::posix
