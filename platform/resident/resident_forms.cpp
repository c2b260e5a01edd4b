// The resident's windows are records: the host window is never shown, so it needs no toolkit
// window to hold its layout, its timer and its handlers.

#include "platform/core/forms.h"
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

namespace {

// A form as a record: its timers run on the resident's loop.
class Record final : public core::Window {
  public:
    explicit Record(const Form& form) : core::Window(form) { resident::StartTimers(form); }

    // Showing a window needs the toolkit, which only the window program loads.
    void Present() override {
        resident::HandOver();
        End();
    }

    void Destroy() override {
        std::erase_if(State().timers, [this](const resident::Timer& t) { return t.form == &form; });
        delete this;
    }
};

} // namespace

core::Window* core::BuildWindow(const Form& form) {
    return new Record(form);
}

void core::LastWindowUnloaded() {
    End();
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

} // namespace platform
