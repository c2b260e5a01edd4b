#include "platform/win32/win32_backend.h"

namespace platform::win32 {

std::wstring Wide(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
    return narrow;
}

std::wstring MultimediaPath(const std::wstring& path) {
    bool ascii = true;
    for (wchar_t c : path) {
        ascii = ascii && c < 0x80;
    }
    if (ascii) {
        return path;
    }
    const DWORD length = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (length == 0) {
        return path;
    }
    std::wstring short_path(length, L'\0');
    const DWORD written = GetShortPathNameW(path.c_str(), short_path.data(), length);
    if (written == 0 || written >= length) {
        return path;
    }
    short_path.resize(written);
    return short_path;
}

} // namespace platform::win32
