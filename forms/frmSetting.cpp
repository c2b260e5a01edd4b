#include "forms/frmSetting.h"

#include "forms/centre.h"
#include "forms/frmAbout.h"
#include "shared/settings.h"

namespace {

using platform::ControlKind;

void Form_Load() {
    CentreOnScreen(frmSetting);
}

// Ends every running copy, whatever folder it started from: this one now, the others at their
// next tick. The control window shows because some copy runs, and that copy may have started
// from another folder, with a settings file of its own.
void cmdQuit_Click() {
    // A request that cannot be written stops nobody from that folder; say so rather than vanish
    // as if it had worked.
    for (const std::string& failure : RequestQuitOfEveryCopy()) {
        platform::MessageBox(failure);
    }
    platform::End();
}

void cmdAbout_Click() {
    platform::Show(frmAbout);
}

platform::WindowLayout Layout() {
    platform::WindowLayout window{
        .name = "frmSetting",
        .caption = "Velmorin",
        .left = 1485,
        .top = 1620,
        .width = 3795,
        .height = 3720,
        .border = platform::BorderStyle::FixedDialog,
        .visible = true,
        .icon = "icon.png",
        .background = "setting.png",
    };
    window.controls = {
        {.kind = ControlKind::CommandButton,
         .name = "cmdQuit",
         .text = "Alarm Quit",
         .left = 855,
         .top = 2340,
         .width = 1230,
         .height = 525,
         .tab_index = 0},
        {.kind = ControlKind::CommandButton,
         .name = "cmdAbout",
         .text = "About",
         .left = 2880,
         .top = 405,
         .width = 600,
         .height = 420,
         .tab_index = 1},
    };
    return window;
}

} // namespace

const platform::Form frmSetting{
    Layout(),
    {
        {"Form_Load", Form_Load},
        {"cmdQuit_Click", cmdQuit_Click},
        {"cmdAbout_Click", cmdAbout_Click},
    },
};
