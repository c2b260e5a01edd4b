#include "platform/core/tick_grid.h"
#include "platform/core/tick_timers.h"
#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_resources.h"

#include <commctrl.h>

#include <cstdio>

namespace platform {

namespace win32 {

Backend& State() {
    static Backend backend;
    return backend;
}

namespace {

bool RegisterWindowClass() {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = FormProc;
    window_class.hInstance = State().instance;
    window_class.hIcon = LoadIconW(State().instance, MAKEINTRESOURCEW(VELMORIN_ICON));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = WindowClassName();
    return RegisterClassExW(&window_class) != 0;
}

// A mutex in the session's namespace: the system drops it with its last holder, however the
// process ends, so a copy that was killed leaves nothing stale behind.
bool RegisterAndFindOtherCopies() {
    SetLastError(ERROR_SUCCESS);
    State().running_copy = CreateMutexW(nullptr, FALSE, L"Local\\Velmorin-RunningCopy");
    return State().running_copy != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

bool IsReturnKey(const MSG& message) {
    return (message.message == WM_KEYDOWN || message.message == WM_KEYUP ||
            message.message == WM_CHAR) &&
           (message.wParam == VK_RETURN || message.wParam == L'\r');
}

// Messages of a visible form go through the dialog manager first, for Tab, the arrow keys, Enter
// and Escape. In a window without a default button Enter is kept from it: there it would press
// the button that Tab last made the default; Space presses the focused one.
void Dispatch(MSG& message) {
    const HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsWindowVisible(root) &&
        (!IsReturnKey(message) || HasDefaultButton(root)) && IsDialogMessageW(root, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

int MessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        Dispatch(message);
    }
    return static_cast<int>(message.wParam);
}

void StartToolkit() {
    State().instance = GetModuleHandleW(nullptr);
    // Trackbars (sliders) are among the bar classes.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterWindowClass()) {
        NoDisplay();
    }
}

// The name of the claim on a window alone, one per form, session and program folder: a mutex of
// that name while the window's process runs, and a property of that name on the window.
std::wstring ClaimName(const Form& form) {
    std::wstring folder = Wide(ProgramFolder());
    CharLowerBuffW(folder.data(), static_cast<DWORD>(folder.size()));
    // FNV-1a: a short, stable name for a folder of any length; Windows names ignore case.
    std::uint64_t hash = 14695981039346656037u;
    for (const wchar_t c : folder) {
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211u;
    }
    wchar_t hex[17];
    swprintf(hex, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return L"Local\\Velmorin-" + Wide(form.layout.name) + L"-" + hex;
}

// The window that holds the claim: its process may be making it still, so it is looked for a
// few seconds.
HWND ClaimedWindow(const std::wstring& claim) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        HWND found = nullptr;
        while ((found = FindWindowExW(nullptr, found, WindowClassName(), nullptr)) != nullptr) {
            if (GetPropW(found, claim.c_str()) != nullptr) {
                return found;
            }
        }
        Sleep(50);
    }
    return nullptr;
}

} // namespace

void NoDisplay() {
    // A GUI program has no console on Windows; where it has one (wine from a terminal, a
    // redirected start) the reason is written there.
    std::fputs("velmorin: cannot create a window: no display (start it in a desktop session)\n",
               stderr);
    std::fflush(stderr);
    ExitProcess(1);
}

} // namespace win32

using win32::State;

// The command line was answered before (--help, --version); every path the program uses comes
// from the wide-character functions.
int Run(const Form& startup, int, char**) {
    win32::StartToolkit();
    State().another_copy_running = win32::RegisterAndFindOtherCopies();
    win32::RecordRunningCopy();
    core::LoadStartupForm(startup);
    return win32::MessageLoop();
}

// The mutex goes with its holder, however the process ends, so a killed window leaves no claim.
int RunAlone(const Form& form, int, char**) {
    win32::StartToolkit();
    const std::wstring claim = win32::ClaimName(form);
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, claim.c_str());
    if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        if (HWND window = win32::ClaimedWindow(claim)) {
            if (IsIconic(window)) {
                ShowWindow(window, SW_RESTORE);
            }
            SetForegroundWindow(window);
        }
        return 0;
    }
    Show(form);
    if (win32::FormWindow* window = win32::Find(form)) {
        SetPropW(window->hwnd, claim.c_str(), window->hwnd);
    }
    return win32::MessageLoop();
}

void DoEvents() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The loop in Run ends the process; the pass only hands the request on.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        win32::Dispatch(message);
    }
}

void MessageBox(std::string_view text) {
    const std::wstring shown = win32::Wide(text.substr(0, text.find('\0')));
    // Task-modal: every window of the program waits for the OK, as the other backends do.
    MessageBoxW(nullptr, shown.c_str(), win32::Wide(AppTitle()).c_str(),
                MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
}

std::string ProgramFolder() {
    // Long paths included: the buffer grows until the whole name fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return ".";
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    size_t end = path.find_last_of(L'\\');
    if (end == std::wstring::npos) {
        return ".";
    }
    // A drive root keeps its separator: "C:\".
    if (end == 2 && path[1] == L':') {
        ++end;
    }
    path.resize(end);
    return win32::Utf8(path);
}

std::string_view PathSeparator() {
    return "\\";
}

bool AnotherCopyRunning() {
    return State().another_copy_running;
}

// The one Windows program shows its windows and ticks alike: no process goes on from another.
bool ContinuesEarlierCopy() {
    return false;
}

TimeOfDay Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wHour, now.wMinute, now.wSecond};
}

void End() {
    std::fflush(nullptr);
    ExitProcess(0);
}

void EndWithStatus(int status) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(status));
}

void Tell(std::string_view text, Notice notice) {
    // A GUI program has a standard output only where its starter gave it one (wine from a
    // terminal, a redirection); writing where there is none does nothing.
    std::FILE* stream = notice == Notice::Answer ? stdout : stderr;
    std::fprintf(stream, notice == Notice::Answer ? "%.*s\n" : "velmorin: %.*s\n",
                 static_cast<int>(text.size()), text.data());
    std::fflush(stream);
    const std::wstring shown = win32::Wide(text);
    MessageBoxW(nullptr, shown.c_str(), win32::Wide(AppTitle()).c_str(),
                MB_OK | MB_TASKMODAL | MB_SETFOREGROUND |
                    (notice == Notice::Answer ? MB_ICONINFORMATION : MB_ICONERROR));
}

// PlaySoundW opens the output itself, at once: there is nothing to start before a chime. It
// lives here, beside the other primitives of the tick loop, so that every program that links the
// loop links it too.
void core::PrepareSound() {}

std::int64_t core::WallClockUs() {
    // FILETIME counts 100 ns from 1601; the grid counts from the Unix epoch, as on Linux.
    constexpr std::int64_t kEpochIn100Ns = 116444736000000000;
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const std::int64_t ticks =
        (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - kEpochIn100Ns) / 10;
}

// The thread timer waits in whole milliseconds.
std::int64_t core::TickLagMs() {
    return kTickLagMs;
}

void core::TimersChanged() {
    win32::ArmTickTimer();
}

std::string LastErrorText() {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string sentence;
    if (length > 0 && text != nullptr) {
        sentence = win32::Utf8(std::wstring_view(text, length));
    }
    LocalFree(text);
    // The caller adds its own full stop.
    while (!sentence.empty() && (sentence.back() == '\n' || sentence.back() == '\r' ||
                                 sentence.back() == ' ' || sentence.back() == '.')) {
        sentence.pop_back();
    }
    return sentence.empty() ? "error " + std::to_string(error) : sentence;
}

} // namespace platform
