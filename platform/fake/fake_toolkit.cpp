#include "platform/core/forms.h"
#include "platform/core/tick_grid.h"
#include "platform/core/tick_timers.h"
#include "platform/fake/fake.h"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace fake {

namespace {

constexpr int kDayMs = 24 * 3600 * 1000;

// A window is only a record of what the program did to it.
struct Window final : platform::core::Window {
    explicit Window(const platform::Form& form) : platform::core::Window(form) {}
    void Present() override { visible = true; }
    void Destroy() override { delete this; }

    bool visible = false;
    Placement position;
    std::map<std::string, std::string, std::less<>> texts;
    std::map<std::string, int, std::less<>> values;
};

struct Fake {
    std::string program_folder;
    bool another_copy_running = false;
    bool continues_earlier_copy = false;
    std::vector<std::string> running_copies;
    long long clock_ms = 0; // since midnight of the first simulated day
    int step_on_read_ms = 0;
    float screen_width = 1024 * 15;
    float screen_height = 768 * 15;
    bool ended = false;
    int exit_status = 0;
    bool user_busy = false;
    int busy_questions = 0;
    bool user_japanese = false;
    int wave_volume = 100;
    int event_passes = 0;
    std::vector<Sound> sounds;
    std::vector<Speech> speeches;
    std::vector<std::string> message_boxes;
    std::vector<std::string> told;
    std::vector<int> sound_preparations;
};

Fake& State() {
    static Fake fake;
    return fake;
}

Window* Find(const platform::Form& form) {
    return static_cast<Window*>(platform::core::WindowOf(form));
}

// Runs a handler as the event loop would, recording an end of the process.
template <typename F> void Dispatch(F&& handler) {
    if (State().ended) {
        return;
    }
    try {
        handler();
    } catch (const ProcessEnded& end) {
        State().ended = true;
        State().exit_status = end.status;
    }
}

} // namespace

void Reset(const std::string& program_folder, bool another_copy_running,
           bool continues_earlier_copy) {
    for (platform::core::Window* window : platform::core::LoadedWindows()) {
        platform::Unload(window->form);
    }
    State() = Fake{};
    platform::SetQuarterMinutes({});
    State().program_folder = program_folder;
    State().another_copy_running = another_copy_running;
    State().continues_earlier_copy = continues_earlier_copy;
}

void SetRunningCopies(std::vector<std::string> folders) {
    State().running_copies = std::move(folders);
}

void Start(const platform::Form& startup) {
    Dispatch([&] { platform::core::LoadStartupForm(startup); });
}

// Setting the clock is a step of the wall clock, which the real backends hear of from the kernel.
void SetClock(int hour, int minute, int second, int millisecond) {
    State().clock_ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
    platform::core::RealignTimers();
}

void SetUserJapanese(bool japanese) {
    State().user_japanese = japanese;
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

// The event thread waits for the next due timer as the real backends wait, and wakes on time.
void Advance(int milliseconds) {
    const long long end = State().clock_ms + milliseconds;
    while (!State().ended) {
        const std::int64_t wait_us = platform::core::NextTickWaitUs();
        const long long wake = State().clock_ms + (wait_us + 999) / 1000;
        if (wait_us < 0 || wake > end) {
            break;
        }
        State().clock_ms = wake;
        Dispatch([] { platform::core::RunDueTimers(); });
    }
    State().clock_ms = end;
}

void Block(int milliseconds) {
    State().clock_ms += milliseconds;
}

void Click(const platform::Form& form, std::string_view control) {
    if (Find(form) == nullptr) {
        throw std::logic_error("click on a window that is not loaded");
    }
    const std::string event = std::string(control) + "_Click";
    Dispatch([&] { platform::RunHandler(form, event); });
}

void Change(const platform::Form& form, std::string_view control, int value) {
    platform::SetControlValue(form, control, value);
    const std::string event = std::string(control) + "_Change";
    Dispatch([&] { platform::RunHandler(form, event); });
}

bool Ended() {
    return State().ended;
}
int ExitStatus() {
    return State().exit_status;
}
const std::vector<std::string>& Told() {
    return State().told;
}
const std::vector<Sound>& Sounds() {
    return State().sounds;
}
const std::vector<Speech>& Speeches() {
    return State().speeches;
}
const std::vector<std::string>& MessageBoxes() {
    return State().message_boxes;
}
int EventPasses() {
    return State().event_passes;
}
const std::vector<int>& SoundPreparations() {
    return State().sound_preparations;
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
    const int ms = static_cast<int>(State().clock_ms % kDayMs);
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

int RunAlone(const Form& form, int, char**) {
    Show(form);
    return 0;
}

core::Window* core::BuildWindow(const Form& form) {
    auto* window = new fake::Window(form);
    window->position = {static_cast<float>(form.layout.left), static_cast<float>(form.layout.top)};
    for (const ControlLayout& control : form.layout.controls) {
        window->texts[control.name] = control.text;
    }
    return window;
}

// The fake's process goes on, so that a test can look at what was left.
void core::LastWindowUnloaded() {}

void DoEvents() {
    ++fake::State().event_passes;
}

void SetControlText(const Form& form, std::string_view control, std::string_view text) {
    if (fake::Window* window = fake::Find(form)) {
        window->texts[std::string(control)] = text;
    }
}

int ControlValue(const Form& form, std::string_view control) {
    const fake::Window* window = fake::Find(form);
    if (window == nullptr) {
        return 0;
    }
    const auto it = window->values.find(control);
    return it == window->values.end() ? 0 : it->second;
}

void SetControlValue(const Form& form, std::string_view control, int value) {
    if (fake::Window* window = fake::Find(form)) {
        window->values[std::string(control)] = value;
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
bool ContinuesEarlierCopy() {
    return fake::State().continues_earlier_copy;
}
std::vector<std::string> RunningCopyFolders() {
    return fake::State().running_copies;
}

TimeOfDay Now() {
    const int ms = static_cast<int>(fake::State().clock_ms % fake::kDayMs);
    fake::State().clock_ms += fake::State().step_on_read_ms;
    return {ms / 3600000, ms / 60000 % 60, ms / 1000 % 60};
}

std::int64_t core::WallClockUs() {
    return fake::State().clock_ms * 1000;
}

std::int64_t core::TickLagMs() {
    return kTickLagMs;
}

// The fake's Advance asks for the next wait each time.
void core::TimersChanged() {}

void core::PrepareSound() {
    fake::State().sound_preparations.push_back(
        static_cast<int>(fake::State().clock_ms % fake::kDayMs));
}

void End() {
    throw fake::ProcessEnded{};
}

void EndWithStatus(int status) {
    throw fake::ProcessEnded{status};
}

void Tell(std::string_view text, Notice) {
    fake::State().told.emplace_back(text);
}

void SetWaveVolume(int percent) {
    fake::State().wave_volume = percent;
}

std::string_view BusyMeaning() {
    return "the fake desktop says so";
}

void SpeakAfterSound(std::string_view words, std::string_view language) {
    const int ms = static_cast<int>(fake::State().clock_ms % fake::kDayMs);
    fake::State().speeches.push_back({{ms / 3600000, ms / 60000 % 60, ms / 1000 % 60},
                                      std::string(words),
                                      std::string(language),
                                      fake::State().wave_volume});
}

bool UserLanguageIsJapanese() {
    return fake::State().user_japanese;
}

bool UserIsBusy() {
    ++fake::State().busy_questions;
    return fake::State().user_busy;
}

} // namespace platform
