#include "platform/win32/win32_backend.h"

namespace platform {

namespace {

// A quoted path in a command is handed to MCI in the form it opens on every system; the rest
// of the command is left as it is.
std::wstring WithMultimediaPaths(std::wstring command) {
    size_t at = 0;
    while ((at = command.find(L'"', at)) != std::wstring::npos) {
        const size_t end = command.find(L'"', at + 1);
        if (end == std::wstring::npos) {
            break;
        }
        const std::wstring path = command.substr(at + 1, end - at - 1);
        const std::wstring usable = win32::MultimediaPath(path);
        command.replace(at + 1, path.size(), usable);
        at += usable.size() + 2;
    }
    return command;
}

} // namespace

std::uint32_t mciSendStringA(const char* command, char* return_string, std::uint32_t return_length,
                             void* callback_window) {
    if (command == nullptr) {
        return ::mciSendStringW(nullptr, nullptr, 0, static_cast<HWND>(callback_window));
    }
    const std::wstring wide = WithMultimediaPaths(win32::Wide(command));
    std::wstring reply(return_string != nullptr ? return_length : 0, L'\0');
    const MCIERROR result =
        ::mciSendStringW(wide.c_str(), reply.empty() ? nullptr : reply.data(),
                         static_cast<UINT>(reply.size()), static_cast<HWND>(callback_window));
    if (return_string != nullptr && return_length > 0) {
        reply.resize(wcsnlen(reply.c_str(), reply.size()));
        core::CopyOut(win32::Utf8(reply), return_string, return_length);
    }
    return result;
}

bool mciGetErrorStringA(std::uint32_t error, char* buffer, std::uint32_t length) {
    if (buffer == nullptr || length == 0) {
        return false;
    }
    std::wstring text(length, L'\0');
    const bool known = ::mciGetErrorStringW(error, text.data(), length) != 0;
    text.resize(wcsnlen(text.c_str(), text.size()));
    core::CopyOut(win32::Utf8(text), buffer, length);
    return known;
}

} // namespace platform
