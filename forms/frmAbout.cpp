#include "forms/frmAbout.h"

#include "forms/centre.h"
#include "shared/Module1.h"
#include "shared/program_file.h"

namespace {

using platform::ControlKind;

const std::string kAboutText = std::string(kAboutTitle) + "\r\n"
                                                          "© 2025-2026 Velmorin\r\n"
                                                          "\r\n"
                                                          "フリーソフト\r\n"
                                                          "作: Velmorin 開発チーム";

// The MCI results are ignored: without the tune the window is still worth showing.
void SendIgnoringResult(const std::string& command) {
    platform::mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

void Form_Load() {
    CentreOnScreen(frmAbout);
    platform::SetControlText(frmAbout, "Label1", kAboutText);
    // Painted first: the tune blocks the event thread until it ends.
    platform::Show(frmAbout);
    platform::DoEvents();
    // The path is quoted so that a program folder with blanks in it still finds the tune.
    SendIgnoringResult("open \"" + ProgramFile("ABOUT.MID") + "\" type sequencer alias about");
    SendIgnoringResult("play about wait");
    SendIgnoringResult("close about");
}

// The About window's OK button (frmMain's Command1 is its hidden test button): closes the window.
void Command1_Click() {
    platform::Unload(frmAbout);
    // No device of the program is called video9, so this always fails and its error text is
    // dropped. The OK button has always sent it; MCI aliases belong to the process that opened
    // them, so it can close nothing of anyone else's.
    Module1::SendMciCommand("close video9");
}

platform::WindowLayout Layout() {
    platform::WindowLayout window{
        .name = "frmAbout",
        .caption = "Velmorinについて",
        .left = 2685,
        .top = 2940,
        .width = 4320,
        .height = 2475,
        .border = platform::BorderStyle::FixedDialog,
        .visible = false,
        .icon = "icon.png",
    };
    window.controls = {
        {.kind = ControlKind::PictureBox,
         .name = "Picture1",
         .left = 225,
         .top = 225,
         .width = 540,
         .height = 540,
         .tab_index = 2},
        {.kind = ControlKind::Label,
         .name = "Label1",
         .left = 855,
         .top = 270,
         .width = 2760,
         .height = 1365,
         .tab_index = 1,
         .alignment = platform::Alignment::Center,
         .font = {.face = "ＭＳ Ｐゴシック", .points = 12, .charset = 128}},
        {.kind = ControlKind::CommandButton,
         .name = "Command1",
         .text = "OK",
         .left = 1710,
         .top = 1800,
         .width = 870,
         .height = 465,
         .tab_index = 0},
    };
    // Set apart from the list: GCC 12 at -O3 misreads the cleanup of a layout whose picture is
    // initialized after its defaulted font and warns that the font may be used uninitialized.
    window.controls[0].picture = "icon.png";
    return window;
}

} // namespace

const platform::Form frmAbout{
    Layout(),
    {
        {"Form_Load", Form_Load},
        {"Command1_Click", Command1_Click},
    },
};
