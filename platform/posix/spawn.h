#pragma once

// Child processes of the Linux programs: the sound helper, the window program that shows the
// resident's message boxes, and the short commands that read the desktop's do-not-disturb.

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform::posix {

// A standard stream of the child: this process's own, the null device, or a descriptor of ours.
inline constexpr int kOwnStream = -1;
inline constexpr int kNullStream = -2;

struct ChildSetup {
    int input = kOwnStream;
    int output = kOwnStream;
    int errors = kOwnStream;
    // A process group of its own, so that a command that is a script takes its children along
    // when the group is killed.
    bool own_group = false;
    // The program is looked for in PATH, as a shell would.
    bool search_path = false;
    // "NAME=value" entries that take the place of this process's own NAME, or are added.
    std::vector<std::string> environment;
};

// Starts the program with the arguments (the first is its name) and this process's environment
// as changed by the setup. The child's process id, or -1 when it could not be started.
pid_t StartChild(const std::string& program, const std::vector<std::string>& arguments,
                 const ChildSetup& setup);

} // namespace platform::posix
