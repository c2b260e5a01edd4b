// Busy on a Linux desktop: a full-screen active window (X11 and XWayland), or the desktop's
// do-not-disturb where it can be read: the Inhibited property of the notification server on the
// session bus (KDE Plasma and others), or GNOME's show-banners setting. libdbus and GLib, once
// loaded, could never be unloaded again, so the program links neither: the two settings are
// read by short child processes (dbus-send, gsettings) that get a few hundred milliseconds in
// all and are killed if they take longer. A missing command, bus or answer means not busy.

#include "platform/platform.h"
#include "platform/posix/spawn.h"
#include "platform/posix/xcb_fullscreen.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kWait{400};
// A reply is one line; anything longer is not an answer to this question.
constexpr std::size_t kMaxOutput = 4096;

// The session bus as its clients find it: DBUS_SESSION_BUS_ADDRESS, else the user's socket in
// XDG_RUNTIME_DIR. Empty when there is none.
std::string SessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return address;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    const std::string socket = std::string(runtime != nullptr ? runtime : "") + "/bus";
    if (runtime == nullptr || *runtime == '\0' || ::stat(socket.c_str(), &info) != 0 ||
        !S_ISSOCK(info.st_mode)) {
        return {};
    }
    // A D-Bus address escapes every byte but a few as %XX.
    std::string escaped = "unix:path=";
    for (unsigned char c : socket) {
        if (std::strchr("-_/.*", c) != nullptr || std::isalnum(c) != 0) {
            escaped += static_cast<char>(c);
        } else {
            const char hex[] = "0123456789abcdef";
            escaped += {'%', hex[c >> 4], hex[c & 15]};
        }
    }
    return escaped;
}

struct Child {
    pid_t pid = -1;
    int output = -1;
    std::string text;
};

// Starts the command with its output on a pipe and its input and errors on /dev/null. The bus
// address is always set: a client that finds none may start a bus of its own, and "disabled:"
// is one that no client can reach.
Child Start(std::vector<const char*> argv, const std::string& bus) {
    Child child;
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) {
        return child;
    }
    // A group of its own, so that the kill takes a script's children along.
    child.pid = posix::StartChild(
        argv[0], {argv.begin(), argv.end()},
        {.input = posix::kNullStream,
         .output = pipe_ends[1],
         .errors = posix::kNullStream,
         .own_group = true,
         .search_path = true,
         .environment = {"DBUS_SESSION_BUS_ADDRESS=" + (bus.empty() ? "disabled:" : bus)}});
    ::close(pipe_ends[1]);
    if (child.pid > 0) {
        child.output = pipe_ends[0];
    } else {
        ::close(pipe_ends[0]);
    }
    return child;
}

// Reads what the children write until each has closed its output or the time is up. Every
// child is then killed, if it still runs, and reaped.
void Collect(std::vector<Child>& children) {
    const Clock::time_point deadline = Clock::now() + kWait;
    while (true) {
        std::vector<pollfd> outputs;
        for (const Child& child : children) {
            if (child.output >= 0) {
                outputs.push_back({child.output, POLLIN, 0});
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (outputs.empty() || left.count() <= 0) {
            break;
        }
        if (::poll(outputs.data(), outputs.size(), static_cast<int>(left.count())) < 0 &&
            errno != EINTR) {
            break;
        }
        for (Child& child : children) {
            for (const pollfd& output : outputs) {
                if (output.fd != child.output || output.revents == 0) {
                    continue;
                }
                char buffer[512];
                const ssize_t got = ::read(child.output, buffer, sizeof buffer);
                if (got > 0 && child.text.size() < kMaxOutput) {
                    child.text.append(buffer, static_cast<std::size_t>(got));
                } else if (got == 0 || (got < 0 && errno != EINTR)) {
                    ::close(child.output);
                    child.output = -1;
                }
            }
        }
    }
    for (Child& child : children) {
        if (child.output >= 0) {
            ::close(child.output);
        }
        if (child.pid > 0) {
            ::kill(-child.pid, SIGKILL);
            while (::waitpid(child.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
}

bool DoNotDisturb() {
    const std::string bus = SessionBus();
    std::vector<Child> children;
    if (!bus.empty()) {
        children.push_back(
            Start({"dbus-send", "--session", "--print-reply=literal", "--reply-timeout=300",
                   "--dest=org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                   "org.freedesktop.DBus.Properties.Get", "string:org.freedesktop.Notifications",
                   "string:Inhibited"},
                  bus));
    }
    children.push_back(
        Start({"gsettings", "get", "org.gnome.desktop.notifications", "show-banners"}, bus));
    Collect(children);
    const bool inhibited =
        !bus.empty() && children.front().text.find("boolean true") != std::string::npos;
    return inhibited || children.back().text.rfind("false", 0) == 0;
}

} // namespace

bool UserIsBusy() {
    return posix::ActiveWindowIsFullScreen() || DoNotDisturb();
}

std::string_view BusyMeaning() {
    return "the active window is full-screen, or do-not-disturb is on";
}

} // namespace platform
