#include "platform/posix/spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace platform::posix {

namespace {

void SetStream(posix_spawn_file_actions_t& actions, int stream, int target, int flags) {
    if (stream == kNullStream) {
        posix_spawn_file_actions_addopen(&actions, target, "/dev/null", flags, 0);
    } else if (stream >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stream, target);
    }
}

bool Replaced(const char* entry, const std::vector<std::string>& changes) {
    for (const std::string& change : changes) {
        const std::size_t name = change.find('=') + 1;
        if (std::strncmp(entry, change.c_str(), name) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

pid_t StartChild(const std::string& program, const std::vector<std::string>& arguments,
                 const ChildSetup& setup) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!Replaced(*entry, setup.environment)) {
            env.push_back(*entry);
        }
    }
    for (const std::string& change : setup.environment) {
        env.push_back(const_cast<char*>(change.c_str()));
    }
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    SetStream(actions, setup.input, STDIN_FILENO, O_RDONLY);
    SetStream(actions, setup.output, STDOUT_FILENO, O_WRONLY);
    SetStream(actions, setup.errors, STDERR_FILENO, O_WRONLY);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (setup.own_group) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    }
    pid_t pid = -1;
    const int error =
        setup.search_path
            ? ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), env.data())
            : ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

} // namespace platform::posix
