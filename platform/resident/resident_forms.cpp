// The resident's windows are records: the host window is never shown, so it needs no toolkit
// window to hold its layout, its timer and its handlers.

#include "platform/core/forms.h"
#include "platform/posix/spawn.h"
#include "platform/resident/resident_backend.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

// A form as a record: its timers run on the resident's loop.
class Record final : public core::Window {
  public:
    explicit Record(const Form& form) : core::Window(form) {}

    // Showing a window needs the toolkit, which only the window program loads.
    void Present() override {
        resident::HandOver();
        End();
    }

    void Destroy() override { delete this; }
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

int ControlValue(const Form&, std::string_view) {
    return 0;
}
void SetControlValue(const Form&, std::string_view, int) {}

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
    const pid_t pid = posix::StartChild(resident::WindowProgram(), {"velmorin-ui"},
                                        {.environment = {"VELMORIN_MESSAGE_BOX=" + shown}});
    if (pid < 0) {
        std::fprintf(stderr, "velmorin: %s\n", shown.c_str());
        return;
    }
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace platform
