#pragma once

// The Win32 backend: velmorin.exe, with the real kernel32, user32 and winmm functions called in
// their wide forms. State shared by its files is kept in one struct.
//   Offers: windows built from their layouts at each window's DPI, message boxes, the tick loop's
//     wait that re-aligns on WM_TIMECHANGE and resume, PlaySoundW, MCI, the profile
//     functions, a running-copy mutex.
//   Works around: wine's ANSI narrowing of multimedia paths (short paths).

#include "platform/core/forms.h"
#include "platform/core/text.h"
#include "platform/platform.h"

// platform.h first: the Windows headers define SND_ASYNC and friends as macros, which would
// otherwise rewrite the names it declares.
#include <windows.h>

#include <mmsystem.h>

// The Windows headers map MessageBox to MessageBoxW; the platform function keeps its name.
#undef MessageBox

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::win32 {

struct Control {
    const ControlLayout* layout = nullptr;
    HWND hwnd = nullptr;
};

// A loaded form: its top-level window, built from the layout at the window's DPI.
struct FormWindow final : core::Window {
    explicit FormWindow(const Form& form) : core::Window(form) {}
    void Present() override;
    void Destroy() override;

    HWND hwnd = nullptr;
    UINT dpi = 96;
    std::vector<Control> controls;
    HFONT message_font = nullptr;
    std::vector<HFONT> fonts;
    std::vector<HICON> icons;
    HBITMAP background = nullptr;

    ~FormWindow() override;
};

struct Backend {
    HINSTANCE instance = nullptr;
    HANDLE running_copy = nullptr;
    bool another_copy_running = false;
    int wave_volume = 100;
    UINT_PTR tick_timer = 0; // the thread timer of the tick loop, 0 while none is set
    std::vector<std::uint8_t> playing_wave; // the scaled sound PlaySoundW may still be reading
    // The file that PlaySoundA started last and when, for the speech that follows it.
    std::wstring sound_path;
    ULONGLONG sound_started_ms = 0;
    std::vector<std::uint8_t> speech; // rendered words waiting for their sound to end
};

Backend& State();

// UTF-8 in the program, UTF-16 in every Windows call. Invalid UTF-8 becomes U+FFFD rather than
// failing, so a bad byte in a path costs at most that file.
std::wstring Wide(std::string_view text);
std::string Utf8(std::wstring_view text);
// A path that the multimedia functions open on every system: the path itself when it is plain
// ASCII, else its short form when the volume has one. Wine's PlaySoundW and MCI narrow paths to
// the ANSI code page, so a folder like "Zoë 時報" opens nothing there; Windows itself needs no
// help but is served the same file either way.
std::wstring MultimediaPath(const std::wstring& path);
// Plays the WAV file at State().wave_volume from a scaled copy in memory; false, having played
// nothing, when the file cannot be read or its samples cannot be scaled.
bool PlayScaledWave(const std::wstring& path, std::uint32_t flags);

const wchar_t* WindowClassName();
LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
FormWindow* Find(const Form& form);
// True when the top-level window is one of the program's forms with a default button.
bool HasDefaultButton(HWND root);
// Leaves a record of this copy's program folder for the rest of its life, which
// RunningCopyFolders() reads; nothing is recorded when the record cannot be made.
void RecordRunningCopy();
// A window could not be made: with no display this is where a program on wine ends up.
[[noreturn]] void NoDisplay();

// Sets the tick loop's one timer to the wait for the next due timer, or kills it.
void ArmTickTimer();

} // namespace platform::win32
