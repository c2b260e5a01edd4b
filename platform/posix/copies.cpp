#include "platform/platform.h"
#include "platform/posix/instance.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// Every running copy leaves a record beside the running-copy lock: a file named after its
// process that holds its program folder, on which it keeps a shared lock for its whole life.
// Alarm Quit in any copy reads them to reach the copies started from other folders. The kernel
// drops the lock with the process however it ends, so a record nobody holds belongs to a copy
// that has ended: it is skipped and deleted. A record is deleted only under an exclusive lock,
// which no reader gets while its copy runs.

namespace platform {

namespace {

constexpr std::string_view kRecordPrefix = "velmorin-";
constexpr std::string_view kRecordSuffix = ".copy";
// A record names a folder; anything longer is no record of ours.
constexpr size_t kMaxRecord = 64 * 1024;
// A reader holds a fresh record for a few microseconds while it looks; this is how long the
// new copy waits for it, in small steps.
constexpr int kRecordAttempts = 50;
constexpr auto kRecordPause = std::chrono::milliseconds(2);

// The lock folder, kept open from registration on; -1 when this copy found none it trusts.
int& RecordFolder() {
    static int folder = -1;
    return folder;
}

bool IsRecordName(std::string_view name) {
    return name.size() > kRecordPrefix.size() + kRecordSuffix.size() &&
           name.substr(0, kRecordPrefix.size()) == kRecordPrefix &&
           name.substr(name.size() - kRecordSuffix.size()) == kRecordSuffix;
}

// The folder a live record holds, or "" for a record of an ended copy (deleted here), one still
// being written, or one that is not a plain file.
std::string ReadRecord(int folder, const char* name) {
    const int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return "";
    }
    std::string text;
    struct stat info {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // Nobody holds it. Deleted only while it still has its name: another reader may have
        // deleted it, and a new copy of the same process id made a new file under that name.
        if (::fstat(fd, &info) == 0 && info.st_nlink > 0) {
            ::unlinkat(folder, name, 0);
        }
    } else if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
               static_cast<size_t>(info.st_size) <= kMaxRecord) {
        text.resize(kMaxRecord);
        const ssize_t length = ::read(fd, text.data(), text.size());
        text.resize(length > 0 ? static_cast<size_t>(length) : 0);
        // A record is complete once its closing line end is there.
        text = !text.empty() && text.front() == '/' && text.back() == '\n'
                   ? text.substr(0, text.size() - 1)
                   : "";
    }
    ::close(fd);
    return text;
}

} // namespace

// The folder of the executable as the kernel names it, whatever the command line said. Both
// Linux programs ask it, the window program also before its toolkit starts (--help).
std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    std::string folder(path, static_cast<std::size_t>(length));
    const std::size_t slash = folder.rfind('/');
    return slash == 0 ? "/" : folder.substr(0, slash);
}

std::string_view PathSeparator() {
    return "/";
}

void posix::RecordRunningCopy(int lock_folder) {
    RecordFolder() = ::fcntl(lock_folder, F_DUPFD_CLOEXEC, 0);
    if (RecordFolder() < 0) {
        return;
    }
    // Looking once deletes the records that copies which have ended left behind.
    RunningCopyFolders();
    const std::string name =
        std::string(kRecordPrefix) + std::to_string(::getpid()) + std::string(kRecordSuffix);
    const std::string record = ProgramFolder() + "\n";
    for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
        const int fd = ::openat(RecordFolder(), name.c_str(),
                                O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            return;
        }
        // Written before it is locked, so a reader may take it for an ended copy's and delete
        // it meanwhile: then it has lost its name, and it is made again.
        struct stat info {};
        if (::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size()) &&
            ::flock(fd, LOCK_SH | LOCK_NB) == 0 && ::fstat(fd, &info) == 0 && info.st_nlink > 0) {
            // The descriptor stays open, and with it the lock, until the process ends.
            return;
        }
        ::close(fd);
        std::this_thread::sleep_for(kRecordPause);
    }
}

std::vector<std::string> RunningCopyFolders() {
    std::vector<std::string> folders;
    const int folder = RecordFolder() < 0 ? -1 : ::fcntl(RecordFolder(), F_DUPFD_CLOEXEC, 0);
    DIR* listing = folder < 0 ? nullptr : ::fdopendir(folder);
    if (listing == nullptr) {
        if (folder >= 0) {
            ::close(folder);
        }
        return folders;
    }
    // The duplicate shares its read position with the kept descriptor: start from the top.
    ::rewinddir(listing);
    while (const dirent* entry = ::readdir(listing)) {
        if (IsRecordName(entry->d_name)) {
            if (std::string path = ReadRecord(RecordFolder(), entry->d_name); !path.empty()) {
                folders.push_back(std::move(path));
            }
        }
    }
    ::closedir(listing);
    return folders;
}

} // namespace platform
