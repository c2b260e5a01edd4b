#pragma once

// The one interface between the program logic and the machine it runs on: the window toolkit
// services the forms call, and the Windows functions (profile file, PlaySound, MCI) the logic
// was written against. Each backend (resident_*, qt_*, win32_*, fake_*) implements all of it;
// CMake picks one at link time. Nothing here pulls in a toolkit or OS header.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Window layouts, as data. Positions and sizes are in twips (1/1440 inch); a window's width
// and height are those of its client area.

// A check box's value is 0 or 1, a slider's its position from 0 to its maximum, a combo box's the
// index of the chosen item.
enum class ControlKind { CommandButton, Label, PictureBox, Timer, CheckBox, Slider, ComboBox };
enum class BorderStyle { Sizable, FixedDialog };
enum class Alignment { Left, Center };

struct Font {
    std::string face;
    int points = 0;
    int charset = 0; // 128 is the Japanese (Shift-JIS) character set
};

struct ControlLayout {
    ControlKind kind = ControlKind::CommandButton;
    std::string name;
    std::string text; // UTF-8
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int tab_index = 0;
    int interval_ms = 0; // timers only; 0 leaves the timer disabled
    Alignment alignment = Alignment::Left;
    Font font;           // an empty face keeps the toolkit's default font
    std::string picture; // the name of a picture under data/, for picture boxes
    // Command buttons: the one Enter presses wherever the focus is (unless on another button),
    // and the one Escape presses.
    bool default_button = false;
    bool cancel_button = false;
    // What a screen reader calls the control, where its text alone would not say (an hour's
    // check box shows "7"); empty: its text.
    std::string accessible_name;
    int maximum = 0;                // sliders: they run from 0 to this
    std::vector<std::string> items; // combo boxes: the choices, UTF-8
};

struct WindowLayout {
    std::string name;
    std::string caption; // UTF-8
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    BorderStyle border = BorderStyle::Sizable;
    bool visible = true;    // whether loading the window also shows it
    std::string icon;       // picture name of the window icon
    std::string background; // picture drawn from the top left of the client area
    std::vector<ControlLayout> controls;
};

// A handler is named the way the events are: "Form_Load", "cmdQuit_Click", "Timer1_Timer". A
// backend calls the handler whose name matches the event, if there is one.
struct Handler {
    std::string_view event;
    void (*run)();
};

struct Form {
    WindowLayout layout;
    std::vector<Handler> handlers;
};

// What every backend does with an event: calls the form's handler of that name, if it has one.
inline void RunHandler(const Form& form, std::string_view event) {
    for (const Handler& handler : form.handlers) {
        if (handler.event == event) {
            handler.run();
            return;
        }
    }
}

// The text without the blanks at either end: spaces and tabs, or the given set. The program reads
// its numbers and lists this way, and the profile functions their names and values.
inline std::string_view Trim(std::string_view text, std::string_view blanks = " \t") {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

struct TimeOfDay {
    int hour = 0; // 0 to 23, local time
    int minute = 0;
    int second = 0;
};

// Toolkit services.

// Loads the start-up form and runs the event loop until the process ends.
int Run(const Form& startup, int argc, char** argv);

// Starts the toolkit with this form as the process's only window, without the start-up form and
// without registering as a running copy; the process ends when the window is unloaded. When this
// user already shows the form for the same program folder, that window is brought to the front
// instead and this returns 0 at once.
int RunAlone(const Form& form, int argc, char** argv);

// Loads the form if it is not loaded (running its Form_Load), then makes it visible and
// brings it forward. Returns after the load handler.
void Show(const Form& form);
void Unload(const Form& form);

// Runs the handlers of the events queued now, a due timer tick included, then returns.
void DoEvents();

void SetControlText(const Form& form, std::string_view control, std::string_view text);
// The value of a check box, slider or combo box (see ControlKind); 0 for any other control.
// Setting it runs no handler: only the user's changes do ("_Click", "_Change").
int ControlValue(const Form& form, std::string_view control);
void SetControlValue(const Form& form, std::string_view control, int value);

// Outer sizes, frame and title bar included, in twips.
float FormWidth(const Form& form);
float FormHeight(const Form& form);
float ScreenWidth();
float ScreenHeight();
// Sets the outer left and top of a window, in twips.
void MoveForm(const Form& form, float left, float top);

// A modal message box with an OK button, captioned with the application title. The text
// ends at its first code-0 character.
void MessageBox(std::string_view text);

// The folder of the running executable, without a trailing separator except at the root.
std::string ProgramFolder();
// The separator that joins the program folder and a file name.
std::string_view PathSeparator();
// True in a copy started while another copy runs in the same user session.
bool AnotherCopyRunning();
// True in a copy that goes on from an earlier process of itself, its start-up steps done: the
// window program becomes the lean resident once none of its windows shows any more.
bool ContinuesEarlierCopy();
// The program folders of the copies running now in this user session, this one included,
// whatever folder each started from. Records of copies that have ended are skipped and deleted.
std::vector<std::string> RunningCopyFolders();
// The application title: the caption of message boxes, the same on every platform.
inline std::string_view AppTitle() {
    return "Velmorin";
}
// One reading of the local clock.
TimeOfDay Now();
// Ends the process at once; no unload handler runs.
[[noreturn]] void End();
// The same, with an exit status that tells a script or the desktop why.
[[noreturn]] void EndWithStatus(int status);

// What a text told to the user is, which decides where it goes.
enum class Notice {
    Answer,  // what the user asked for on the command line: --help, --version
    Mistake, // a command line the program cannot read
    Failure, // why this copy cannot go on
};
// Tells the user: on Linux an answer on standard output, a mistake or a failure on standard
// error, and a failure also in a message box when the program has no terminal (started from a
// menu or at login), where nobody reads standard error. A Windows program has no console: it
// shows each in a message box, and writes it to standard output or error too where it has them.
void Tell(std::string_view text, Notice notice);
// Why the last Windows function of this thread failed, as a sentence (errno, GetLastError).
std::string LastErrorText();
// The level of the sounds that later PlaySoundA calls of this process start, in percent of each
// sound's own level: 0 to 100 (clamped), linear in the samples, 100 until it is set. The
// system's volume and the MCI sequencer keep theirs.
void SetWaveVolume(int percent);
// The minutes past the hour, besides the hour itself, at which the logic chimes too (15, 30, 45
// for quarters), so that the sound is made ready a few seconds before each as before the hour.
// None until set; the tick loop (platform/core) keeps them.
void SetQuarterMinutes(const std::vector<int>& minutes);
// Speaks the words once, in "ja" or "en", at the level SetWaveVolume set, starting the moment the
// sound started last has ended (at once when none plays). They are rendered now, while that
// sound plays. Where no voice can say them: silence, and at most one line on standard error a
// run; the sounds are not touched.
void SpeakAfterSound(std::string_view words, std::string_view language);
// True when the user's language is Japanese: the first of LC_ALL, LC_MESSAGES and LANG that is
// set on Linux, the user's display language on Windows.
bool UserLanguageIsJapanese();
// True when the desktop says the user is not to be disturbed: a full-screen program, a
// presentation, do-not-disturb. Anything that cannot be read counts as not busy. It may take a
// few hundred milliseconds, so the program asks only at the hour.
bool UserIsBusy();
// What UserIsBusy() counts as busy on this system, as a phrase for the settings window.
std::string_view BusyMeaning();

// Windows functions, with the meaning of their Win32 namesakes. Texts are UTF-8 on every
// platform; the Windows backend converts them to UTF-16 and calls the W functions.

std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* default_value, char* buffer, std::uint32_t size,
                                       const char* file_name);
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file_name);

inline constexpr std::uint32_t SND_ASYNC = 0x0001;
inline constexpr std::uint32_t SND_NODEFAULT = 0x0002;
inline constexpr std::uint32_t SND_FILENAME = 0x00020000;
bool PlaySoundA(const char* sound, void* module, std::uint32_t flags);

std::uint32_t mciSendStringA(const char* command, char* return_string, std::uint32_t return_length,
                             void* callback_window);
bool mciGetErrorStringA(std::uint32_t error, char* buffer, std::uint32_t length);

} // namespace platform
