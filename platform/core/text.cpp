#include "platform/core/text.h"

namespace platform::core {

namespace {

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string FoldCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        c = Fold(c);
    }
    return folded;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

std::uint32_t CopyOut(std::string_view text, char* buffer, std::uint32_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    std::size_t length = text.size();
    if (length > size - 1) {
        length = size - 1;
        // Never half a character: back up over continuation bytes to the start of the one cut.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    text.copy(buffer, length);
    buffer[length] = '\0';
    return static_cast<std::uint32_t>(length);
}

} // namespace platform::core
