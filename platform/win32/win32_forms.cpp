#include "platform/core/tick_timers.h"
#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_resources.h"

#include <commctrl.h>
// The GUIDs of the accessibility annotation service are defined here, where they are used.
#include <initguid.h>

#include <oleacc.h>

#include <algorithm>
#include <cmath>

namespace platform {

namespace win32 {

namespace {

// Child control ids start above IDOK and IDCANCEL, so Enter and Esc, which the dialog manager
// turns into those two, press no button.
constexpr int kFirstControlId = 100;

int Pixels(double twips, UINT dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

double Twips(int pixels, UINT dpi) {
    return pixels * 1440.0 / dpi;
}

DWORD Style(const WindowLayout& layout) {
    if (layout.border == BorderStyle::FixedDialog) {
        // A fixed dialog: no sizing frame, no minimize or maximize box.
        return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    }
    return WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
}

DWORD ExStyle(const WindowLayout& layout) {
    return layout.border == BorderStyle::FixedDialog ? WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW
                                                     : WS_EX_APPWINDOW;
}

// Pictures are resources of the executable, named as the layouts name them.
int IconResource(const std::string& picture) {
    return picture == "icon.png" ? VELMORIN_ICON : 0;
}

int BitmapResource(const std::string& picture) {
    return picture == "setting.png" ? VELMORIN_SETTING_BITMAP : 0;
}

HICON LoadIconAt(FormWindow& window, int resource, int size) {
    auto* icon = static_cast<HICON>(LoadImageW(State().instance, MAKEINTRESOURCEW(resource),
                                               IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (icon != nullptr) {
        window.icons.push_back(icon);
    }
    return icon;
}

void ReleaseResources(FormWindow& window) {
    for (HFONT font : window.fonts) {
        DeleteObject(font);
    }
    window.fonts.clear();
    window.message_font = nullptr;
    for (HICON icon : window.icons) {
        DestroyIcon(icon);
    }
    window.icons.clear();
}

HFONT MakeFont(FormWindow& window, const Font& font) {
    LOGFONTW face{};
    face.lfHeight = -MulDiv(font.points, static_cast<int>(window.dpi), 72);
    face.lfWeight = FW_NORMAL;
    face.lfCharSet = static_cast<BYTE>(font.charset);
    face.lfQuality = CLEARTYPE_QUALITY;
    // Where the face is not installed, Windows substitutes one of the same character set.
    const std::wstring name = Wide(font.face);
    name.copy(face.lfFaceName, LF_FACESIZE - 1);
    HFONT made = CreateFontIndirectW(&face);
    if (made != nullptr) {
        window.fonts.push_back(made);
    }
    return made;
}

// Sizes, fonts and icons at the window's DPI; run at load and again when the window moves to a
// monitor of another DPI.
void ApplyDpi(FormWindow& window) {
    ReleaseResources(window);
    const WindowLayout& layout = window.form.layout;
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                   window.dpi)) {
        window.message_font = CreateFontIndirectW(&metrics.lfMessageFont);
        if (window.message_font != nullptr) {
            window.fonts.push_back(window.message_font);
        }
    }
    if (const int icon = IconResource(layout.icon); icon != 0) {
        const int big = GetSystemMetricsForDpi(SM_CXICON, window.dpi);
        const int small_size = GetSystemMetricsForDpi(SM_CXSMICON, window.dpi);
        SendMessageW(window.hwnd, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(LoadIconAt(window, icon, big)));
        SendMessageW(window.hwnd, WM_SETICON, ICON_SMALL,
                     reinterpret_cast<LPARAM>(LoadIconAt(window, icon, small_size)));
    }
    for (Control& control : window.controls) {
        const ControlLayout& item = *control.layout;
        HFONT font = item.font.face.empty() ? window.message_font : MakeFont(window, item.font);
        SendMessageW(control.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        if (item.kind == ControlKind::PictureBox) {
            if (const int icon = IconResource(item.picture); icon != 0) {
                SendMessageW(control.hwnd, STM_SETICON,
                             reinterpret_cast<WPARAM>(LoadIconAt(
                                 window, icon, MulDiv(32, static_cast<int>(window.dpi), 96))),
                             0);
            }
        }
        // After the icon: a picture static sizes itself to its icon. A combo box's height is
        // that of its list dropped down: one line per choice below its own.
        const int lines =
            item.kind == ControlKind::ComboBox ? static_cast<int>(item.items.size()) + 1 : 1;
        SetWindowPos(control.hwnd, nullptr, Pixels(item.left, window.dpi),
                     Pixels(item.top, window.dpi), Pixels(item.width, window.dpi),
                     Pixels(item.height, window.dpi) * lines, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(window.hwnd, nullptr, TRUE);
}

// The outer size that gives the layout's client size at the window's DPI.
SIZE OuterSize(const FormWindow& window) {
    const WindowLayout& layout = window.form.layout;
    RECT rect{0, 0, Pixels(layout.width, window.dpi), Pixels(layout.height, window.dpi)};
    AdjustWindowRectExForDpi(&rect, Style(layout), FALSE, ExStyle(layout), window.dpi);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

// A function of a library loaded when first needed; nothing when either is missing. The cast
// goes through void (*)(), which any function pointer may be cast to without a warning.
template <typename Function> Function LateFunction(const wchar_t* library, const char* name) {
    HMODULE module = LoadLibraryW(library);
    FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// Names a control for screen readers by something other than its caption, through Active
// Accessibility's annotations. COM is loaded only by a window that asks for this, so the time
// signal imports no OLE library; where the service is missing the caption stays the name.
void NameForScreenReaders(HWND control, const std::string& name) {
    static IAccPropServices* const services = [] {
        using Initialize = HRESULT(WINAPI*)(void*, DWORD);
        using Create = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);
        const auto initialize = LateFunction<Initialize>(L"ole32.dll", "CoInitializeEx");
        const auto create = LateFunction<Create>(L"ole32.dll", "CoCreateInstance");
        IAccPropServices* made = nullptr;
        if (initialize == nullptr || create == nullptr ||
            FAILED(initialize(nullptr, COINIT_APARTMENTTHREADED)) ||
            FAILED(create(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IAccPropServices, reinterpret_cast<void**>(&made)))) {
            return static_cast<IAccPropServices*>(nullptr);
        }
        return made;
    }();
    if (services != nullptr) {
        services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                 PROPID_ACC_NAME, Wide(name).c_str());
    }
}

HWND MakeControl(FormWindow& window, const ControlLayout& item, int id) {
    const wchar_t* window_class = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (item.kind) {
    case ControlKind::CommandButton:
        // Enter presses the default button (WM_COMMAND IDOK from the dialog manager), or the
        // focused one; a window without one takes no Enter at all (Dispatch).
        window_class = L"BUTTON";
        style |= (item.default_button ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP;
        break;
    case ControlKind::CheckBox:
        window_class = L"BUTTON";
        style |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
    case ControlKind::Slider:
        window_class = TRACKBAR_CLASSW;
        style |= TBS_HORZ | TBS_NOTICKS | WS_TABSTOP;
        break;
    case ControlKind::ComboBox:
        window_class = WC_COMBOBOXW;
        style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
        break;
    case ControlKind::Label:
        style |= item.alignment == Alignment::Center ? SS_CENTER : SS_LEFT;
        style |= SS_NOPREFIX;
        break;
    case ControlKind::PictureBox:
        style |= SS_ICON | SS_CENTERIMAGE | WS_TABSTOP;
        break;
    case ControlKind::Timer:
        return nullptr;
    }
    // A slider or combo box is named by its text for a screen reader too, and by the label
    // made just before it, which is how Windows names a control without a caption of its own.
    HWND control = CreateWindowExW(0, window_class, Wide(item.text).c_str(), style, 0, 0, 0, 0,
                                   window.hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   State().instance, nullptr);
    if (item.kind == ControlKind::Slider) {
        SendMessageW(control, TBM_SETRANGE, FALSE, MAKELPARAM(0, item.maximum));
        SendMessageW(control, TBM_SETPAGESIZE, 0, std::max(1, item.maximum / 10));
    }
    for (const std::string& choice : item.items) {
        SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(choice).c_str()));
    }
    if (control != nullptr && !item.accessible_name.empty()) {
        NameForScreenReaders(control, item.accessible_name);
    }
    return control;
}

void Build(FormWindow& window) {
    const WindowLayout& layout = window.form.layout;
    // Made at 96 DPI first: the window's own DPI is known once it exists.
    window.hwnd = CreateWindowExW(ExStyle(layout), WindowClassName(), Wide(layout.caption).c_str(),
                                  Style(layout), Pixels(layout.left, 96), Pixels(layout.top, 96),
                                  Pixels(layout.width, 96), Pixels(layout.height, 96), nullptr,
                                  nullptr, State().instance, &window);
    if (window.hwnd == nullptr) {
        NoDisplay();
    }
    window.dpi = GetDpiForWindow(window.hwnd);
    if (window.dpi == 0) {
        window.dpi = 96;
    }
    if (const int bitmap = BitmapResource(layout.background); bitmap != 0) {
        window.background = static_cast<HBITMAP>(LoadImageW(
            State().instance, MAKEINTRESOURCEW(bitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    }
    // Made in tab order: the order of the child windows is the order Tab visits them.
    std::vector<const ControlLayout*> ordered;
    for (const ControlLayout& item : layout.controls) {
        ordered.push_back(&item);
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto* a, const auto* b) { return a->tab_index < b->tab_index; });
    int next_id = kFirstControlId;
    for (const ControlLayout* item : ordered) {
        // Timers run in the shared tick loop (platform/core/tick_timers.cpp).
        if (item->kind == ControlKind::Timer) {
            continue;
        }
        if (HWND hwnd = MakeControl(window, *item, next_id++)) {
            window.controls.push_back({item, hwnd});
        }
    }
    ApplyDpi(window);
    const SIZE outer = OuterSize(window);
    SetWindowPos(window.hwnd, nullptr, Pixels(layout.left, window.dpi),
                 Pixels(layout.top, window.dpi), outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void PaintBackground(FormWindow& window, HDC dc) {
    RECT client;
    GetClientRect(window.hwnd, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    BITMAP info;
    if (window.background == nullptr || GetObjectW(window.background, sizeof info, &info) == 0) {
        return;
    }
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(source, window.background);
    // Drawn from the top left at the window's DPI, as a picture of 96 DPI.
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, 0, 0, MulDiv(info.bmWidth, static_cast<int>(window.dpi), 96),
               MulDiv(info.bmHeight, static_cast<int>(window.dpi), 96), source, 0, 0, info.bmWidth,
               info.bmHeight, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
}

} // namespace

FormWindow::~FormWindow() {
    ReleaseResources(*this);
    if (background != nullptr) {
        DeleteObject(background);
    }
}

const wchar_t* WindowClassName() {
    return L"VelmorinForm";
}

FormWindow* Find(const Form& form) {
    return static_cast<FormWindow*>(core::WindowOf(form));
}

LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<FormWindow*>(create->lpCreateParams)->hwnd = hwnd;
    }
    auto* window = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window == nullptr) {
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wparam) == BN_CLICKED &&
            (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
            // Enter and Escape, as the dialog manager passes them on: the window's default and
            // cancel buttons, where it has them.
            for (const Control& control : window->controls) {
                if (LOWORD(wparam) == IDOK ? control.layout->default_button
                                           : control.layout->cancel_button) {
                    RunHandler(window->form, control.layout->name + "_Click");
                    return 0;
                }
            }
            return 0;
        }
        if (HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) >= kFirstControlId) {
            const HWND from = reinterpret_cast<HWND>(lparam);
            for (const Control& control : window->controls) {
                if (control.hwnd == from) {
                    // The handler may unload this window; nothing of it is touched afterwards.
                    RunHandler(window->form, control.layout->name + "_Click");
                    return 0;
                }
            }
        }
        return 0;
    case WM_HSCROLL:
        // A slider moved by the user (SetControlValue sends no notice).
        for (const Control& control : window->controls) {
            if (control.hwnd == reinterpret_cast<HWND>(lparam)) {
                RunHandler(window->form, control.layout->name + "_Change");
                return 0;
            }
        }
        return 0;
    case WM_TIMECHANGE:
        core::RealignTimers();
        return 0;
    case WM_POWERBROADCAST:
        if (wparam == PBT_APMRESUMEAUTOMATIC || wparam == PBT_APMRESUMESUSPEND) {
            core::RealignTimers();
        }
        return TRUE;
    case WM_CLOSE:
        // Closing a window from its title bar unloads it; the process goes on with its hidden
        // host window and timer.
        Unload(window->form);
        return 0;
    case WM_ERASEBKGND:
        PaintBackground(*window, reinterpret_cast<HDC>(wparam));
        return 1;
    case WM_CTLCOLORSTATIC:
        // Labels and the picture box show the window's own face colour.
        SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_DPICHANGED: {
        window->dpi = HIWORD(wparam);
        ApplyDpi(*window);
        const auto* suggested = reinterpret_cast<const RECT*>(lparam);
        const SIZE outer = OuterSize(*window);
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, outer.cx, outer.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

} // namespace win32

using win32::Find;
using win32::State;

core::Window* core::BuildWindow(const Form& form) {
    auto* window = new win32::FormWindow(form);
    win32::Build(*window);
    return window;
}

void core::LastWindowUnloaded() {
    PostQuitMessage(0);
}

void win32::FormWindow::Present() {
    const bool was_visible = IsWindowVisible(hwnd);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd);
    if (!was_visible) {
        // Focus starts on the first control in tab order that takes it.
        for (const win32::Control& control : controls) {
            if (GetWindowLongW(control.hwnd, GWL_STYLE) & WS_TABSTOP) {
                SetFocus(control.hwnd);
                break;
            }
        }
    }
    UpdateWindow(hwnd);
}

void win32::FormWindow::Destroy() {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);
    delete this;
}

void SetControlText(const Form& form, std::string_view control, std::string_view text) {
    if (win32::FormWindow* window = Find(form)) {
        for (const win32::Control& item : window->controls) {
            if (item.layout->name == control) {
                SetWindowTextW(item.hwnd, win32::Wide(text).c_str());
            }
        }
    }
}

namespace win32 {

namespace {

const Control* FindControl(const Form& form, std::string_view name) {
    if (FormWindow* window = Find(form)) {
        for (const Control& control : window->controls) {
            if (control.layout->name == name) {
                return &control;
            }
        }
    }
    return nullptr;
}

} // namespace

bool HasDefaultButton(HWND root) {
    // Only the program's own form windows keep a FormWindow in their user data.
    wchar_t name[32] = {};
    if (GetClassNameW(root, name, 32) == 0 || std::wstring_view(name) != WindowClassName()) {
        return false;
    }
    const auto* window =
        reinterpret_cast<const FormWindow*>(GetWindowLongPtrW(root, GWLP_USERDATA));
    if (window == nullptr) {
        return false;
    }
    for (const Control& control : window->controls) {
        if (control.layout->default_button) {
            return true;
        }
    }
    return false;
}

} // namespace win32

int ControlValue(const Form& form, std::string_view control) {
    const win32::Control* found = win32::FindControl(form, control);
    if (found == nullptr) {
        return 0;
    }
    switch (found->layout->kind) {
    case ControlKind::CheckBox:
        return SendMessageW(found->hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    case ControlKind::Slider:
        return static_cast<int>(SendMessageW(found->hwnd, TBM_GETPOS, 0, 0));
    case ControlKind::ComboBox:
        return static_cast<int>(SendMessageW(found->hwnd, CB_GETCURSEL, 0, 0));
    default:
        return 0;
    }
}

void SetControlValue(const Form& form, std::string_view control, int value) {
    const win32::Control* found = win32::FindControl(form, control);
    if (found == nullptr) {
        return;
    }
    // None of these messages notifies the window, so no handler runs.
    switch (found->layout->kind) {
    case ControlKind::CheckBox:
        SendMessageW(found->hwnd, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    case ControlKind::Slider:
        SendMessageW(found->hwnd, TBM_SETPOS, TRUE, value);
        break;
    case ControlKind::ComboBox:
        SendMessageW(found->hwnd, CB_SETCURSEL, static_cast<WPARAM>(value), 0);
        break;
    default:
        break;
    }
}

float FormWidth(const Form& form) {
    if (win32::FormWindow* window = Find(form)) {
        RECT rect;
        GetWindowRect(window->hwnd, &rect);
        return static_cast<float>(win32::Twips(rect.right - rect.left, window->dpi));
    }
    return static_cast<float>(form.layout.width);
}

float FormHeight(const Form& form) {
    if (win32::FormWindow* window = Find(form)) {
        RECT rect;
        GetWindowRect(window->hwnd, &rect);
        return static_cast<float>(win32::Twips(rect.bottom - rect.top, window->dpi));
    }
    return static_cast<float>(form.layout.height);
}

float ScreenWidth() {
    return static_cast<float>(win32::Twips(GetSystemMetrics(SM_CXSCREEN), GetDpiForSystem()));
}

float ScreenHeight() {
    return static_cast<float>(win32::Twips(GetSystemMetrics(SM_CYSCREEN), GetDpiForSystem()));
}

void MoveForm(const Form& form, float left, float top) {
    if (win32::FormWindow* window = Find(form)) {
        SetWindowPos(window->hwnd, nullptr, win32::Pixels(left, window->dpi),
                     win32::Pixels(top, window->dpi), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

} // namespace platform
