#include "app/frmMain.h"

#include "chime/Timer1.h"
#include "forms/frmSetting.h"
#include "shared/Module1.h"
#include "shared/number.h"
#include "shared/program_file.h"
#include "shared/settings.h"

namespace {

using platform::ControlKind;

// Start-up could not clear a quit request that the file still holds: the first tick would end
// this copy, which to the user looks like a start that worked.
[[noreturn]] void EndForUnclearedRequest(const std::string& reason) {
    platform::Tell("The time signal cannot start: its settings file " +
                       Module1::State().settings_path +
                       " holds a quit request (Quit=1), which it cannot clear (" + reason +
                       "). Let your user write that folder and file, or set Quit=0 in the "
                       "file, then start it again.",
                   platform::Notice::Failure);
    platform::EndWithStatus(1);
}

void Form_Load() {
    Module1::State().settings_path = SettingsPath(platform::ProgramFolder());
    // A copy that goes on in the resident once its windows have closed ran these steps when it
    // started: clearing the request again would undo an Alarm Quit written since.
    if (platform::ContinuesEarlierCopy()) {
        return;
    }
    // Every copy clears the request before its first tick, so a request left from an earlier
    // run never stops a new copy. A folder the user cannot write keeps the request as it is:
    // with Quit=0 the copy runs on, though no Alarm Quit can reach it.
    if (!ClearQuitRequest()) {
        const std::string reason = platform::LastErrorText();
        if (IsQuitRequest(ReadQuitRequest())) {
            EndForUnclearedRequest(reason);
        }
    }
    if (platform::AnotherCopyRunning()) {
        platform::Show(frmSetting);
    }
}

// The host window's hidden test button (frmAbout's Command1 is the About window's OK button):
// shows the quit request, and ends this copy when it reads 0.
void Command1_Click() {
    const std::string text = ReadQuitRequest();
    platform::MessageBox(text);
    if (const auto value = TextToNumber(text); value && *value == 0) {
        platform::End();
    }
}

// The quit button: every copy, this one included, ends at its next tick.
void Command2_Click() {
    if (!RequestQuit()) {
        platform::MessageBox(QuitFailureMessage(Module1::State().settings_path));
    }
}

platform::WindowLayout Layout() {
    platform::WindowLayout window{
        .name = "frmMain",
        .caption = "Velmorin",
        .left = 2100,
        .top = 1845,
        .width = 2175,
        .height = 825,
        .border = platform::BorderStyle::Sizable,
        .visible = false,
        .icon = "icon.png",
    };
    // The two buttons cannot be reached while the window stays hidden; they are built anyway
    // so that the window is what its layout says and their handlers stay testable.
    window.controls = {
        {.kind = ControlKind::CommandButton,
         .name = "Command1",
         .text = "テスト",
         .left = 720,
         .top = 45,
         .width = 1005,
         .height = 420,
         .tab_index = 0},
        {.kind = ControlKind::CommandButton,
         .name = "Command2",
         .text = "Quit",
         .left = 810,
         .top = 540,
         .width = 825,
         .height = 195,
         .tab_index = 1},
        {.kind = ControlKind::Timer, .name = "Timer1", .interval_ms = 800},
    };
    return window;
}

} // namespace

const platform::Form frmMain{
    Layout(),
    {
        {"Form_Load", Form_Load},
        {"Command1_Click", Command1_Click},
        {"Command2_Click", Command2_Click},
        {"Timer1_Timer", Timer1_Timer},
    },
};
