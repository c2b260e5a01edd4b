#pragma once

// The fake backend drives the program logic in unit tests: a simulated clock with ticks on the
// same 800 ms wall-clock grid as the real timer, recorded sounds, message boxes and process
// ends, and windows that are only records.

#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

// Thrown by platform::End() and EndWithStatus(), and caught by the functions below, which then
// record the end.
struct ProcessEnded {
    int status = 0;
};

struct Sound {
    platform::TimeOfDay at;
    int millisecond = 0;
    std::string path;
    std::uint32_t flags = 0;
    int volume = 100; // the wave volume when it was started, in percent
};

// Words handed to SpeakAfterSound.
struct Speech {
    platform::TimeOfDay at;
    std::string words;
    std::string language;
    int volume = 100;
};

struct Placement {
    float left = 0;
    float top = 0;
};

// Frame and title bar that the fake adds to a window's client size, in twips.
inline constexpr float kFrameWidth = 120;
inline constexpr float kFrameHeight = 450;

// Unloads every window and forgets every record.
void Reset(const std::string& program_folder, bool another_copy_running = false,
           bool continues_earlier_copy = false);
// The program folders of the copies that RunningCopyFolders() reports running.
void SetRunningCopies(std::vector<std::string> folders);
// Starts the program as the toolkit would: loads the start-up form hidden.
void Start(const platform::Form& startup);
// A step of the wall clock: the timers wait for the new clock's grid.
void SetClock(int hour, int minute, int second, int millisecond = 0);
void SetScreen(float width, float height);
// What platform::UserIsBusy() answers from now on; every question is counted.
void SetUserBusy(bool busy);
int BusyQuestions();
// What platform::UserLanguageIsJapanese() answers from now on.
void SetUserJapanese(bool japanese);
// Makes every reading of the clock move it on, as real time moves on during a tick.
void AdvanceClockOnRead(int milliseconds);
// Lets simulated time pass with the event thread free: every tick due on the grid runs.
void Advance(int milliseconds);
// Lets simulated time pass with the event thread busy: no tick runs meanwhile.
void Block(int milliseconds);
// Clicks a control of a loaded window.
void Click(const platform::Form& form, std::string_view control);

// Changes the value of a check box, slider or combo box of a loaded window as the user would.
void Change(const platform::Form& form, std::string_view control, int value);

bool Ended();
int ExitStatus();
// What platform::Tell told the user, in order.
const std::vector<std::string>& Told();
const std::vector<Sound>& Sounds();
const std::vector<Speech>& Speeches();
const std::vector<std::string>& MessageBoxes();
bool IsVisible(const platform::Form& form);
std::string ControlText(const platform::Form& form, std::string_view control);
Placement Position(const platform::Form& form);
int EventPasses();
// When the tick loop asked for the hour's sound to be made ready, in milliseconds since midnight.
const std::vector<int>& SoundPreparations();

// Used by the fake's own PlaySoundA.
void RecordSound(const char* path, std::uint32_t flags);

} // namespace fake
