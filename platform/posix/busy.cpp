// Busy on a Linux desktop: a full-screen active window (X11 and XWayland), or the desktop's
// do-not-disturb where it can be read: the Inhibited property of the notification server on the
// session bus (KDE Plasma and others), dunst's pause, Xfce's notification daemon's do-not-disturb
// in its settings (xfconf), or GNOME's show-banners setting. libdbus and GLib, once loaded, could
// never be unloaded again, so the program links neither: the settings are read by short child
// processes (dbus-send, gsettings) that get a few hundred milliseconds in all and are killed if
// they take longer. A missing command, bus or answer means not busy.

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
#include <utility>
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

// A call on the session bus; its reply as text.
Child Call(const std::string& bus, const std::vector<const char*>& call) {
    std::vector<const char*> argv = {"dbus-send", "--session", "--print-reply=literal",
                                     "--reply-timeout=300"};
    argv.insert(argv.end(), call.begin(), call.end());
    return Start(argv, bus);
}

// Reads what the children write until each has closed its output or the deadline has come.
// Every child is then killed, if it still runs, and reaped.
void Collect(std::vector<Child>& children, Clock::time_point deadline) {
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

bool SaysTrue(const Child& child) {
    return child.text.find("boolean true") != std::string::npos;
}

bool DoNotDisturb() {
    const Clock::time_point deadline = Clock::now() + kWait;
    const std::string bus = SessionBus();
    std::vector<Child> children;
    children.push_back(
        Start({"gsettings", "get", "org.gnome.desktop.notifications", "show-banners"}, bus));
    if (!bus.empty()) {
        // The notification server's own do-not-disturb: Inhibited in the common interface, or
        // dunst's pause in its own.
        const std::pair<const char*, const char*> properties[] = {
            {"string:org.freedesktop.Notifications", "string:Inhibited"},
            {"string:org.dunstproject.cmd0", "string:paused"}};
        for (const auto& [interface, name] : properties) {
            children.push_back(
                Call(bus, {"--dest=org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.DBus.Properties.Get", interface, name}));
        }
        // Xfce's settings are asked for only where their daemon runs already: the call would
        // start it on any desktop that has it installed.
        children.push_back(
            Call(bus, {"--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                       "org.freedesktop.DBus.NameHasOwner", "string:org.xfce.Xfconf"}));
    }
    Collect(children, deadline);
    bool busy = children.front().text.rfind("false", 0) == 0;
    for (std::size_t i = 1; i < children.size() && i < 3; ++i) {
        busy = busy || SaysTrue(children[i]);
    }
    if (busy || children.size() < 4 || !SaysTrue(children[3])) {
        return busy;
    }
    std::vector<Child> xfce = {
        Call(bus, {"--dest=org.xfce.Xfconf", "/org/xfce/Xfconf", "org.xfce.Xfconf.GetProperty",
                   "string:xfce4-notifyd", "string:/do-not-disturb"})};
    Collect(xfce, deadline);
    return SaysTrue(xfce.front());
}

} // namespace

bool UserIsBusy() {
    return posix::ActiveWindowIsFullScreen() || DoNotDisturb();
}

std::string_view BusyMeaning() {
    return "the active window is full-screen, or do-not-disturb is on";
}

} // namespace platform
