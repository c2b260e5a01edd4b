#include "platform/win32/win32_backend.h"

#include <optional>

namespace platform {

namespace {

// A missing argument stays missing: the profile functions give a null section or key its own
// meaning (list the sections, list the keys, delete).
std::optional<std::wstring> WideOrNone(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return win32::Wide(text);
}

const wchar_t* Pointer(const std::optional<std::wstring>& text) {
    return text ? text->c_str() : nullptr;
}

} // namespace

// The wide function does the work, so a folder or file name of any script is read; the result
// is handed back in UTF-8, cut to the caller's buffer as the narrow function cuts it.
std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* default_value, char* buffer, std::uint32_t size,
                                       const char* file_name) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const auto wide_section = WideOrNone(section);
    const auto wide_key = WideOrNone(key);
    const auto wide_default = WideOrNone(default_value);
    const auto wide_file = WideOrNone(file_name);
    // UTF-8 never takes fewer bytes than UTF-16 takes units, so `size` units hold everything
    // that can fit in `size` bytes.
    std::wstring result(size, L'\0');
    const DWORD length =
        GetPrivateProfileStringW(Pointer(wide_section), Pointer(wide_key), Pointer(wide_default),
                                 result.data(), size, Pointer(wide_file));
    result.resize(length);
    if (!result.empty() && result.back() >= 0xD800 && result.back() <= 0xDBFF) {
        result.pop_back();
    }
    // A list of names keeps its inner terminators: the conversion goes by length.
    const std::string text = win32::Utf8(result);
    if (section != nullptr && key != nullptr) {
        return core::CopyOut(text, buffer, size);
    }
    // A list ends in two terminators. One that does not fit is cut the way Windows cuts it:
    // the last name shortened, still followed by both, and size - 2 returned.
    if (text.size() + 1 <= size) {
        // Each name carries its own terminator, so one more ends the list.
        text.copy(buffer, text.size());
        buffer[text.size()] = '\0';
        if (text.empty() && size > 1) {
            buffer[1] = '\0';
        }
        return static_cast<std::uint32_t>(text.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    const std::uint32_t kept = core::CopyOut(text, buffer, size - 1);
    buffer[kept + 1] = '\0';
    return size - 2;
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file_name) {
    const auto wide_section = WideOrNone(section);
    const auto wide_key = WideOrNone(key);
    const auto wide_value = WideOrNone(value);
    const auto wide_file = WideOrNone(file_name);
    return WritePrivateProfileStringW(Pointer(wide_section), Pointer(wide_key), Pointer(wide_value),
                                      Pointer(wide_file)) != 0;
}

} // namespace platform
