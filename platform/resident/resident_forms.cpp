// The resident's windows are records: the host window is never shown, so it needs no toolkit
// window to hold its layout, its timer and its handlers.

#include "platform/portable/sequencer.h"
#include "platform/resident/resident_backend.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace platform {

using resident::State;

// Showing a window needs the toolkit, which only the window program loads.
void Show(const Form& form) {
    if (std::find(State().loaded.begin(), State().loaded.end(), &form) != State().loaded.end() &&
        !form.layout.visible) {
        // The hidden host window stays hidden here as everywhere.
        return;
    }
    resident::HandOver();
    End();
}

void Unload(const Form& form) {
    auto& loaded = State().loaded;
    const auto found = std::find(loaded.begin(), loaded.end(), &form);
    if (found == loaded.end()) {
        return;
    }
    loaded.erase(found);
    std::erase_if(State().timers, [&form](const resident::Timer& t) { return t.form == &form; });
    // The process ends when its last window has been unloaded.
    if (loaded.empty()) {
        End();
    }
}

bool IsLoaded(const Form& form) {
    return std::find(State().loaded.begin(), State().loaded.end(), &form) != State().loaded.end();
}

// The resident queues no events of its own: a due tick runs from the loop.
void DoEvents() {}

void SetControlText(const Form&, std::string_view, std::string_view) {}

float FormWidth(const Form& form) {
    return static_cast<float>(form.layout.width);
}
float FormHeight(const Form& form) {
    return static_cast<float>(form.layout.height);
}
float ScreenWidth() {
    return 0;
}
float ScreenHeight() {
    return 0;
}
void MoveForm(const Form&, float, float) {}

// The window program shows the box and ends when it is closed; this copy waits for it, as a
// modal box would hold it.
void MessageBox(std::string_view text) {
    const std::string shown(text.substr(0, text.find('\0')));
    const std::string program = resident::WindowProgram();
    std::vector<std::string> variables{"VELMORIN_MESSAGE_BOX=" + shown};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, "VELMORIN_MESSAGE_BOX=", 21) != 0) {
            variables.emplace_back(*variable);
        }
    }
    std::vector<char*> env;
    for (std::string& variable : variables) {
        env.push_back(variable.data());
    }
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>("velmorin-ui"), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, env.data()) != 0) {
        std::fprintf(stderr, "velmorin: %s\n", shown.c_str());
        return;
    }
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// The resident plays no tune: only a copy that shows the About window does, and that copy is
// the window program.
namespace sequencer {
std::uint32_t Open(const std::string&) {
    return MCIERR_DEVICE_NOT_INSTALLED;
}
std::uint32_t Play(bool) {
    return MCIERR_DEVICE_NOT_INSTALLED;
}
void Stop() {}
bool Playing() {
    return false;
}
void Close() {}
} // namespace sequencer

} // namespace platform
