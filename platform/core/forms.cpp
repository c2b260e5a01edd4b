#include "platform/core/forms.h"

#include "platform/core/tick_timers.h"

#include <map>

namespace platform::core {

namespace {

// Never destroyed: windows still loaded when the process ends go with it, as on every toolkit.
std::map<const Form*, Window*>& Loaded() {
    static auto* loaded = new std::map<const Form*, Window*>();
    return *loaded;
}

Window* Load(const Form& form) {
    if (Window* window = WindowOf(form)) {
        return window;
    }
    Window* window = BuildWindow(form);
    StartTimers(form);
    // Loaded before its load handler runs, so that the handler may show its own window.
    Loaded()[&form] = window;
    RunHandler(form, "Form_Load");
    // The load handler may have unloaded the window, or ended the process.
    return WindowOf(form) == window ? window : nullptr;
}

} // namespace

Window* WindowOf(const Form& form) {
    const auto it = Loaded().find(&form);
    return it == Loaded().end() ? nullptr : it->second;
}

void LoadStartupForm(const Form& form) {
    Window* window = Load(form);
    if (window != nullptr && form.layout.visible) {
        window->Present();
    }
}

std::vector<Window*> LoadedWindows() {
    std::vector<Window*> windows;
    for (const auto& entry : Loaded()) {
        windows.push_back(entry.second);
    }
    return windows;
}

} // namespace platform::core

namespace platform {

void Show(const Form& form) {
    if (core::Window* window = core::Load(form)) {
        window->Present();
    }
}

void Unload(const Form& form) {
    core::Window* window = core::WindowOf(form);
    if (window == nullptr) {
        return;
    }
    core::Loaded().erase(&form);
    core::StopTimers(form);
    window->Destroy();
    // The process ends when its last window has been unloaded.
    if (core::Loaded().empty()) {
        core::LastWindowUnloaded();
    }
}

} // namespace platform
