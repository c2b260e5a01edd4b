#include "forms/frmOptions.h"

#include "forms/centre.h"
#include "shared/Module1.h"
#include "shared/chime_keys.h"
#include "shared/program_file.h"
#include "shared/settings.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace {

using platform::ControlKind;

// The quiet hours are a control array as the program's other windows would have one:
// chkQuiet0 to chkQuiet23.
std::string QuietBox(int hour) {
    return "chkQuiet" + std::to_string(hour);
}

void ShowChoices(const ChimeChoices& choices) {
    for (int hour = 0; hour < 24; ++hour) {
        platform::SetControlValue(frmOptions, QuietBox(hour),
                                  choices.quiet[static_cast<std::size_t>(hour)] ? 1 : 0);
    }
    platform::SetControlValue(frmOptions, "chkBusy", choices.busy ? 1 : 0);
    platform::SetControlValue(frmOptions, "sldVolume", choices.volume);
    platform::SetControlValue(frmOptions, "cboQuarters", choices.quarters);
    platform::SetControlValue(frmOptions, "cboSpeak", choices.speak);
}

ChimeChoices ChosenChoices() {
    ChimeChoices choices;
    for (int hour = 0; hour < 24; ++hour) {
        choices.quiet[static_cast<std::size_t>(hour)] =
            platform::ControlValue(frmOptions, QuietBox(hour)) != 0;
    }
    choices.busy = platform::ControlValue(frmOptions, "chkBusy") != 0;
    // A backend's "nothing chosen" (-1) or a stray value never indexes past the choices.
    choices.volume = std::clamp(platform::ControlValue(frmOptions, "sldVolume"), 0, 100);
    choices.quarters = std::clamp(platform::ControlValue(frmOptions, "cboQuarters"), 0,
                                  static_cast<int>(std::size(kQuartersValues)) - 1);
    choices.speak = std::clamp(platform::ControlValue(frmOptions, "cboSpeak"), 0,
                               static_cast<int>(std::size(kSpeakValues)) - 1);
    return choices;
}

void sldVolume_Change() {
    platform::SetControlText(frmOptions, "lblPercent",
                             std::to_string(platform::ControlValue(frmOptions, "sldVolume")) +
                                 " %");
}

void Form_Load() {
    // Opened on its own, by --settings, the window is the process's first form: the settings
    // file is named here, not by the host window's start-up.
    Module1::State().settings_path = SettingsPath(platform::ProgramFolder());
    CentreOnScreen(frmOptions);
    platform::SetControlText(frmOptions, "chkBusy",
                             "No chime while busy: " + std::string(platform::BusyMeaning()));
    Module1::State().shown_choices = ReadChimeChoices();
    ShowChoices(Module1::State().shown_choices);
    sldVolume_Change();
}

// This hour's sound at the volume the slider shows, heard before the choice is saved.
void cmdPlay_Click() {
    platform::SetWaveVolume(platform::ControlValue(frmOptions, "sldVolume"));
    Module1::PlayWave(HourSoundPath(platform::Now().hour));
}

void cmdOK_Click() {
    if (!WriteChangedChoices(Module1::State().shown_choices, ChosenChoices())) {
        // Taken first: building the message may change the last error.
        const std::string reason = platform::LastErrorText();
        // The window stays open with the user's choices, so nothing is lost while the folder
        // is made writable.
        platform::MessageBox("The settings could not be saved.\n\nThey could not be written to "
                             "the settings file\n" +
                             Module1::State().settings_path + "\n(" + reason +
                             ").\n\nLet your user write that folder and file, then press OK "
                             "again.");
        return;
    }
    platform::Unload(frmOptions);
}

void cmdCancel_Click() {
    platform::Unload(frmOptions);
}

platform::ControlLayout Label(const char* name, const char* text, int left, int top, int width,
                              int tab_index) {
    return {.kind = ControlKind::Label,
            .name = name,
            .text = text,
            .left = left,
            .top = top,
            .width = width,
            .height = 255,
            .tab_index = tab_index};
}

platform::ControlLayout Combo(const char* name, const char* text, int top, int tab_index,
                              std::vector<std::string> items) {
    platform::ControlLayout combo{.kind = ControlKind::ComboBox,
                                  .name = name,
                                  .text = text,
                                  .left = 2100,
                                  .top = top,
                                  .width = 3600,
                                  .height = 375,
                                  .tab_index = tab_index};
    combo.items = std::move(items);
    return combo;
}

platform::ControlLayout Button(const char* name, const char* text, int left, int top, int width,
                               int tab_index) {
    return {.kind = ControlKind::CommandButton,
            .name = name,
            .text = text,
            .left = left,
            .top = top,
            .width = width,
            .height = 420,
            .tab_index = tab_index};
}

// The labels are English, as the program's buttons are; the caption is Japanese, as the other
// windows' captions are. A control with no text of its own on the screen (the slider, the combo
// boxes) carries the label before it as its text, which is its accessible name.
platform::WindowLayout Layout() {
    platform::WindowLayout window{
        .name = "frmOptions",
        .caption = "Velmorinの設定",
        .left = 1200,
        .top = 1200,
        .width = 8400,
        .height = 4200,
        .border = platform::BorderStyle::FixedDialog,
        .visible = true,
        .icon = "icon.png",
    };
    int tab = 0;
    window.controls.push_back(
        Label("lblQuiet", "Quiet hours, without a chime:", 240, 180, 7920, tab++));
    for (int hour = 0; hour < 24; ++hour) {
        window.controls.push_back({.kind = ControlKind::CheckBox,
                                   .name = QuietBox(hour),
                                   .text = std::to_string(hour),
                                   .left = 240 + hour % 12 * 640,
                                   .top = hour < 12 ? 480 : 810,
                                   .width = 640,
                                   .height = 300,
                                   .tab_index = tab++});
        window.controls.back().accessible_name = "Quiet at " + std::to_string(hour) + ":00";
    }
    window.controls.push_back({.kind = ControlKind::CheckBox,
                               .name = "chkBusy",
                               .text = "No chime while busy",
                               .left = 240,
                               .top = 1290,
                               .width = 7920,
                               .height = 300,
                               .tab_index = tab++});
    window.controls.push_back(Label("lblVolume", "Volume:", 240, 1860, 900, tab++));
    platform::ControlLayout slider{.kind = ControlKind::Slider,
                                   .name = "sldVolume",
                                   .text = "Volume",
                                   .left = 1140,
                                   .top = 1800,
                                   .width = 4500,
                                   .height = 375,
                                   .tab_index = tab++};
    slider.maximum = 100;
    window.controls.push_back(slider);
    window.controls.push_back(Label("lblPercent", "100 %", 5760, 1860, 780, tab++));
    window.controls.push_back(Button("cmdPlay", "Play this hour", 6600, 1770, 1560, tab++));
    window.controls.push_back(Label("lblQuarters", "Quarter chimes:", 240, 2460, 1800, tab++));
    window.controls.push_back(Combo("cboQuarters", "Quarter chimes", 2400, tab++,
                                    {"None", "At :15, :30 and :45", "At :30 only"}));
    window.controls.push_back(Label("lblSpeak", "Speak the hour:", 240, 2940, 1800, tab++));
    window.controls.push_back(
        Combo("cboSpeak", "Speak the hour", 2880, tab++,
              {"Off", "In the language of your desktop", "In Japanese", "In English"}));
    window.controls.push_back(Button("cmdOK", "OK", 5760, 3540, 1140, tab++));
    window.controls.back().default_button = true;
    window.controls.push_back(Button("cmdCancel", "Cancel", 7020, 3540, 1140, tab++));
    window.controls.back().cancel_button = true;
    return window;
}

} // namespace

const platform::Form frmOptions{
    Layout(),
    {
        {"Form_Load", Form_Load},
        {"sldVolume_Change", sldVolume_Change},
        {"cmdPlay_Click", cmdPlay_Click},
        {"cmdOK_Click", cmdOK_Click},
        {"cmdCancel_Click", cmdCancel_Click},
    },
};
