#include "platform/posix/instance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

// One lock file per user session. Every running copy holds a shared lock on it for its whole
// life; the kernel drops the lock with the process, however it ends, so no stale marker is ever
// left behind. The file lives in a folder only this user can write, and no lock call waits: a
// file someone else could create or hold would let them fake a running copy or stop this one
// before its first tick.

namespace platform::posix {

namespace {

constexpr const char* kLockName = "velmorin.lock";
// A copy starting at the same moment holds the exclusive lock for a few microseconds while it
// looks for others; this is how long its neighbour waits for it, in small steps.
constexpr int kLockAttempts = 50;
constexpr auto kLockPause = std::chrono::milliseconds(2);
// How long a second request for a window waits for the first to have made it.
constexpr int kPublishAttempts = 100;
constexpr auto kPublishPause = std::chrono::milliseconds(50);

// Opens a folder for use as a parent only if it is a real folder of this user that nobody else
// may write to; -1 with errno otherwise.
int OpenOwnFolder(const std::string& path, mode_t forbidden) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || (info.st_mode & forbidden)) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        return home;
    }
    const passwd* user = ::getpwuid(::geteuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

} // namespace

// XDG_RUNTIME_DIR is made by the session manager for this user alone. Without it, a folder of
// the program's own under the user's cache folder, made 0700 and checked each time.
int OpenLockFolder(std::string& where) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        where = runtime;
        if (const int fd = OpenOwnFolder(where, S_IWGRP | S_IWOTH); fd >= 0) {
            return fd;
        }
    }
    std::string cache;
    if (const char* base = std::getenv("XDG_CACHE_HOME"); base != nullptr && *base == '/') {
        cache = base;
    } else if (const std::string home = HomeFolder(); !home.empty()) {
        cache = home + "/.cache";
        ::mkdir(cache.c_str(), 0700);
    } else {
        where = "the cache folder";
        errno = ENOENT;
        return -1;
    }
    where = cache + "/velmorin";
    if (::mkdir(where.c_str(), 0700) != 0 && errno != EEXIST) {
        return -1;
    }
    return OpenOwnFolder(where, S_IRWXG | S_IRWXO);
}

namespace {

// The lock file itself: a regular file of this user, 0600, never reached through a link.
int OpenLockFile(int folder) {
    int fd = ::openat(folder, kLockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        // The umask may have taken bits from the new file; it must read as this program's own.
        if (::fchmod(fd, 0600) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    if (errno != EEXIST) {
        return -1;
    }
    fd = ::openat(folder, kLockName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 07777) != 0600) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

bool TryLock(int fd, int operation) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (::flock(fd, operation | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        std::this_thread::sleep_for(kLockPause);
    }
    errno = EWOULDBLOCK;
    return false;
}

void SayAlone(const std::string& where) {
    std::fprintf(stderr,
                 "velmorin: no trustworthy lock in %s (%s): other running copies cannot be "
                 "seen, running as the only one\n",
                 where.c_str(), std::strerror(errno));
}

} // namespace

bool RegisterAndFindOtherCopies() {
    std::string where;
    const int folder = OpenLockFolder(where);
    if (folder < 0) {
        SayAlone(where);
        return false;
    }
    RecordRunningCopy(folder);
    const int fd = OpenLockFile(folder);
    ::close(folder);
    where += std::string("/") + kLockName;
    if (fd < 0) {
        SayAlone(where);
        return false;
    }
    // An exclusive lock is refused exactly while some other copy holds its shared one.
    const bool another = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!TryLock(fd, LOCK_SH)) {
        SayAlone(where);
        ::close(fd);
        return false;
    }
    // The descriptor stays open, and with it the lock, until the process ends.
    return another;
}

namespace {

// The claim of one kind of window for one program folder: a file in the lock folder named for
// both, locked by the process that shows the window for as long as it runs, holding that
// window's X id. The kernel drops the lock with the process, however it ends.
int& ClaimFile() {
    static int fd = -1;
    return fd;
}

std::string ClaimName(std::string_view kind) {
    // FNV-1a of the folder: a short, stable name for any folder name.
    std::uint64_t hash = 14695981039346656037u;
    for (const char c : ProgramFolder()) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return "velmorin-" + std::string(kind) + "-" + hex + ".window";
}

// Opens the claim file, -1 when there is no trustworthy place for it.
int OpenClaim(std::string_view kind) {
    std::string where;
    const int folder = OpenLockFolder(where);
    if (folder < 0) {
        return -1;
    }
    const int fd = ::openat(folder, ClaimName(kind).c_str(),
                            O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    ::close(folder);
    struct stat info {};
    if (fd >= 0 &&
        (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool ClaimWindow(std::string_view kind) {
    const int fd = OpenClaim(kind);
    // Without a place to claim it, every request shows a window of its own.
    if (fd < 0) {
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    // An id that an earlier holder left names a window that is gone.
    if (::ftruncate(fd, 0) == 0) {
        ClaimFile() = fd;
    } else {
        ::close(fd);
    }
    return true;
}

bool PublishWindow(std::uint32_t window) {
    const std::string text = std::to_string(window) + "\n";
    return ClaimFile() >= 0 &&
           ::pwrite(ClaimFile(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

std::uint32_t ClaimedWindow(std::string_view kind) {
    const int fd = OpenClaim(kind);
    if (fd < 0) {
        return 0;
    }
    // The holder writes its window's id once the window exists, a moment after it claimed it.
    std::uint32_t window = 0;
    for (int attempt = 0; attempt < kPublishAttempts && window == 0; ++attempt) {
        char text[16] = {};
        const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
        if (length > 0 && text[length - 1] == '\n') {
            window = static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
        } else {
            std::this_thread::sleep_for(kPublishPause);
        }
    }
    ::close(fd);
    return window;
}

bool InTerminal() {
    return ::isatty(STDIN_FILENO) || ::isatty(STDERR_FILENO);
}

void Tell(std::string_view text, Notice notice, void (*box)(std::string_view)) {
    const int length = static_cast<int>(text.size());
    if (notice == Notice::Answer) {
        std::fprintf(stdout, "%.*s\n", length, text.data());
    } else {
        std::fprintf(stderr, "velmorin: %.*s\n", length, text.data());
    }
    std::fflush(nullptr);
    if (notice == Notice::Failure && !InTerminal()) {
        box(text);
    }
}

void SayRunningInTerminal() {
    if (InTerminal()) {
        std::fputs("velmorin: running, it chimes every hour. Start it again to open the control "
                   "window; Ctrl-C ends this copy.\n",
                   stderr);
    }
}

} // namespace platform::posix
