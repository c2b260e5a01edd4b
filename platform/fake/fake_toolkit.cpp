#include "platform/fake/fake.h"

#include <map>
#include <stdexcept>

namespace fake {

namespace {

constexpr int kDayMs = 24 * 3600 * 1000;
// Ticks land just after each multiple of 800 ms, as the real timer lays them.
constexpr int kTickLagMs = 2;

struct Window {
    bool visible = false;
    Placement position;
    std::map<std::string, std::string, std::less<>> texts;
};

struct Fake {
    std::string program_folder;
    bool another_copy_running = false;
    int clock_ms = 0; // since local midnight
    int step_on_read_ms = 0;
    float screen_width = 1024 * 15;
    float screen_height = 768 * 15;
    bool ended = false;
    bool user_busy = false;
    int busy_questions = 0;
    int wave_volume = 100;
    int event_passes = 0;
    std::map<const platform::Form*, Window> windows;
    std::vector<Sound> sounds;
    std::vector<std::string> message_boxes;
};

Fake& State() {
    static Fake fake;
    return fake;
}

Window* Find(const platform::Form& form) {
    const auto it = State().windows.find(&form);
    return it == State().windows.end() ? nullptr : &it->second;
}

// Runs a handler as the event loop would, recording an end of the process.
template <typename F> void Dispatch(F&& handler) {
    if (State().ended) {
        return;
    }
    try {
        handler();
    } catch (const ProcessEnded&) {
        State().ended = true;
    }
}

Window& Load(const platform::Form& form) {
    if (Window* window = Find(form)) {
        return *window;
    }
    Window& window = State().windows[&form];
    window.position = {static_cast<float>(form.layout.left), static_cast<float>(form.layout.top)};
    for (const platform::ControlLayout& control : form.layout.controls) {
        window.texts[control.name] = control.text;
    }
    platform::RunHandler(form, "Form_Load");
    return window;
}

void Tick() {
    // Copied first: a tick may load or unload windows.
    std::vector<std::pair<const platform::Form*, std::string>> timers;
    for (const auto& [form, window] : State().windows) {
        for (const platform::ControlLayout& control : form->layout.controls) {
            if (control.kind == platform::ControlKind::Timer && control.interval_ms > 0) {
                timers.emplace_back(form, control.name + "_Timer");
            }
        }
    }
    // A plain pair, not structured bindings: C++20 lets a lambda capture bindings, Clang 14
    // does not yet.
    for (const auto& timer : timers) {
        Dispatch([&] { platform::RunHandler(*timer.first, timer.second); });
    }
}

} // namespace

void Reset(const std::string& program_folder, bool another_copy_running) {
    State() = Fake{};
    State().program_folder = program_folder;
    State().another_copy_running = another_copy_running;
}

void Start(const platform::Form& startup) {
    Dispatch([&] {
        Window& window = Load(startup);
        window.visible = window.visible || startup.layout.visible;
    });
}

void SetClock(int hour, int minute, int second, int millisecond) {
    State().clock_ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

void SetScreen(float width, float height) {
    State().screen_width = width;
    State().screen_height = height;
}

void SetUserBusy(bool busy) {
    State().user_busy = busy;
}

int BusyQuestions() {
    return State().busy_questions;
}

void AdvanceClockOnRead(int milliseconds) {
    State().step_on_read_ms = milliseconds;
}

void Advance(int milliseconds) {
    const long long end = static_cast<long long>(State().clock_ms) + milliseconds;
    long long clock = State().clock_ms;
    while (!State().ended) {
        const long long next = (clock - kTickLagMs) / 800 * 800 + 800 + kTickLagMs;
        if (next > end) {
            break;
        }
        clock = next;
        State().clock_ms = static_cast<int>(clock % kDayMs);
        Tick();
    }
    State().clock_ms = static_cast<int>(end % kDayMs);
}

void Block(int milliseconds) {
    State().clock_ms = (State().clock_ms + milliseconds) % kDayMs;
}

void Click(const platform::Form& form, std::string_view control) {
    if (Find(form) == nullptr) {
        throw std::logic_error("click on a window that is not loaded");
    }
    const std::string event = std::string(control) + "_Click";
    Dispatch([&] { platform::RunHandler(form, event); });
}

bool Ended() {
    return State().ended;
}
const std::vector<Sound>& Sounds() {
    return State().sounds;
}
const std::vector<std::string>& MessageBoxes() {
    return State().message_boxes;
}
int EventPasses() {
    return State().event_passes;
}

bool IsVisible(const platform::Form& form) {
    const Window* window = Find(form);
    return window != nullptr && window->visible;
}

std::string ControlText(const platform::Form& form, std::string_view control) {
    const Window* window = Find(form);
    if (window == nullptr) {
        return {};
    }
    const auto it = window->texts.find(control);
    return it == window->texts.end() ? std::string() : it->second;
}

Placement Position(const platform::Form& form) {
    const Window* window = Find(form);
    return window != nullptr ? window->position : Placement{};
}

void RecordSound(const char* path, std::uint32_t flags) {
    const int ms = State().clock_ms;
    State().sounds.push_back({{ms / 3600000, ms / 60000 % 60, ms / 1000 % 60},
                              ms % 1000,
                              path != nullptr ? path : "",
                              flags,
                              State().wave_volume});
}

} // namespace fake

namespace platform {

int Run(const Form& startup, int, char**) {
    fake::Start(startup);
    return 0;
}

void Show(const Form& form) {
    fake::Window& window = fake::Load(form);
    if (fake::Find(form) == &window) {
        window.visible = true;
    }
}

void Unload(const Form& form) {
    if (fake::Find(form) == nullptr) {
        return;
    }
    platform::RunHandler(form, "Form_Unload");
    fake::State().windows.erase(&form);
}

bool IsLoaded(const Form& form) {
    return fake::Find(form) != nullptr;
}

void DoEvents() {
    ++fake::State().event_passes;
}

void SetControlText(const Form& form, std::string_view control, std::string_view text) {
    if (fake::Window* window = fake::Find(form)) {
        window->texts[std::string(control)] = text;
    }
}

float FormWidth(const Form& form) {
    return static_cast<float>(form.layout.width) + fake::kFrameWidth;
}
float FormHeight(const Form& form) {
    return static_cast<float>(form.layout.height) + fake::kFrameHeight;
}
float ScreenWidth() {
    return fake::State().screen_width;
}
float ScreenHeight() {
    return fake::State().screen_height;
}

void MoveForm(const Form& form, float left, float top) {
    if (fake::Window* window = fake::Find(form)) {
        window->position = {left, top};
    }
}

void MessageBox(std::string_view text) {
    fake::State().message_boxes.emplace_back(text.substr(0, text.find('\0')));
}

std::string ProgramFolder() {
    return fake::State().program_folder;
}
std::string_view PathSeparator() {
    return "/";
}
bool AnotherCopyRunning() {
    return fake::State().another_copy_running;
}

TimeOfDay Now() {
    const int ms = fake::State().clock_ms;
    fake::State().clock_ms = (ms + fake::State().step_on_read_ms) % fake::kDayMs;
    return {ms / 3600000, ms / 60000 % 60, ms / 1000 % 60};
}

void End() {
    throw fake::ProcessEnded{};
}

void SetWaveVolume(int percent) {
    fake::State().wave_volume = percent;
}

bool UserIsBusy() {
    ++fake::State().busy_questions;
    return fake::State().user_busy;
}

} // namespace platform
