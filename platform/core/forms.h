#pragma once

// The window lifecycle every backend shares: which forms are loaded, loading on first show with
// the load handler run once per load, and the end of the process when the last window goes.
// A backend implements only the primitives below; Show and Unload of platform.h live here.

#include "platform/platform.h"

#include <vector>

namespace platform::core {

// A loaded form as a backend builds it.
class Window {
  public:
    explicit Window(const Form& form) : form(form) {}
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window() = default;

    // Makes the window visible and brings it forward.
    virtual void Present() = 0;
    // Takes it off the screen and frees it: the object is gone afterwards.
    virtual void Destroy() = 0;

    const Form& form;
};

// Primitives of the backend. BuildWindow builds a form from its layout, hidden (its timers run in
// tick_timers.cpp); LastWindowUnloaded ends the process's event loop.
Window* BuildWindow(const Form& form);
void LastWindowUnloaded();

// Nothing when the form is not loaded.
Window* WindowOf(const Form& form);
// Loads the start-up form, showing it only when its layout says so.
void LoadStartupForm(const Form& form);
std::vector<Window*> LoadedWindows();

} // namespace platform::core
