#include "platform/portable/posix_instance.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

// One lock file per user session. Every running copy holds a shared lock on it for its whole
// life; the kernel drops the lock with the process, however it ends, so no stale marker is
// ever left behind.
std::string LockPath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        return std::string(runtime) + "/velmorin.lock";
    }
    return "/tmp/velmorin-" + std::to_string(getuid()) + ".lock";
}

} // namespace

bool RegisterRunningCopy() {
    const int fd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        // Without the lock file no copy can be seen; behave as the only one.
        return false;
    }
    // An exclusive lock is refused exactly while some other copy holds its shared one.
    const bool another = flock(fd, LOCK_EX | LOCK_NB) != 0;
    flock(fd, LOCK_SH);
    // The descriptor stays open, and with it the lock, until the process ends.
    return another;
}

} // namespace platform
