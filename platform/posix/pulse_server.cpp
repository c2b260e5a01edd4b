#include "platform/posix/pulse_server.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace platform::posix {

namespace {

// The socket libpulse connects to first: PULSE_SERVER when it names a local socket, else
// "native" in the pulse runtime folder. Empty when the server is elsewhere.
std::string PulseSocketPath() {
    if (const char* server = std::getenv("PULSE_SERVER"); server != nullptr && *server != '\0') {
        // The first of the servers listed, less the machine it is meant for ("{id}").
        std::string first(server);
        first = first.substr(0, first.find(' '));
        if (first.rfind('{', 0) == 0) {
            const std::size_t machine_end = first.find('}');
            first.erase(0, machine_end == std::string::npos ? first.size() : machine_end + 1);
        }
        if (first.rfind("unix:", 0) == 0) {
            return first.substr(5);
        }
        return first.rfind('/', 0) == 0 ? first : std::string();
    }
    if (const char* runtime = std::getenv("PULSE_RUNTIME_PATH"); runtime != nullptr) {
        return std::string(runtime) + "/native";
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr ? std::string(runtime) + "/pulse/native" : std::string();
}

// The inodes of the sockets bound to `path`, as links in /proc/PID/fd name them.
std::set<std::string> SocketInodes(const std::string& path) {
    std::set<std::string> inodes;
    std::ifstream table("/proc/net/unix");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        // Num RefCount Protocol Flags Type St Inode Path
        std::istringstream fields(line);
        std::string skip, inode, bound;
        fields >> skip >> skip >> skip >> skip >> skip >> skip >> inode >> bound;
        if (bound == path) {
            inodes.insert("socket:[" + inode + "]");
        }
    }
    return inodes;
}

bool HoldsSocket(const std::string& process, const std::set<std::string>& inodes) {
    DIR* fds = ::opendir((process + "/fd").c_str());
    if (fds == nullptr) {
        return false;
    }
    bool holds = false;
    while (const dirent* fd = ::readdir(fds)) {
        char target[64];
        const ssize_t length =
            ::readlink((process + "/fd/" + fd->d_name).c_str(), target, sizeof target);
        if (length > 0 && inodes.count(std::string(target, static_cast<std::size_t>(length)))) {
            holds = true;
            break;
        }
    }
    ::closedir(fds);
    return holds;
}

} // namespace

bool PulseServerIsPipeWire() {
    const std::string path = PulseSocketPath();
    if (path.empty()) {
        return false;
    }
    const std::set<std::string> inodes = SocketInodes(path);
    DIR* processes = !inodes.empty() ? ::opendir("/proc") : nullptr;
    if (processes == nullptr) {
        return false;
    }
    bool pipewire = false;
    while (const dirent* entry = ::readdir(processes)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue;
        }
        const std::string process = std::string("/proc/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(process + "/comm"), name);
        if ((name == "pipewire-pulse" || name == "pipewire") && HoldsSocket(process, inodes)) {
            pipewire = true;
            break;
        }
    }
    ::closedir(processes);
    return pipewire;
}

} // namespace platform::posix
