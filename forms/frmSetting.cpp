#include "forms/frmSetting.h"

#include "forms/centre.h"
#include "forms/frmAbout.h"
#include "shared/settings.h"

namespace {

using platform::ControlKind;

void Form_Load() {
    CentreOnScreen(frmSetting);
}

// Ends every copy started from this folder: this one now, the others at their next tick.
void cmdQuit_Click() {
    // A request that cannot be written stops nobody else; say so rather than vanish as if it
    // had worked.
    if (!RequestQuit()) {
        platform::MessageBox(QuitFailureMessage());
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
