#include "platform/stand_ins/profile_text.h"

#include <cstdint>

namespace platform::stand_ins {

namespace {

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

void PutUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A UTF-16 file is edited as UTF-8. A surrogate without its partner keeps its own three-byte
// form, so that a write gives it back unchanged; a last odd byte is no character and is dropped.
std::string FromUtf16(std::string_view bytes, Encoding encoding) {
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return encoding == Encoding::Utf16Le ? (second << 8 | first) : (first << 8 | second);
    };
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        PutUtf8(text, code);
    }
    return text;
}

// Text from the caller that is not UTF-8 becomes U+FFFD, one for each byte that fits nowhere.
// A lone surrogate in its three-byte form goes back as the unit it came from.
std::string ToUtf16(std::string_view text, Encoding encoding) {
    std::string bytes(encoding == Encoding::Utf16Le ? kUtf16LeMark : kUtf16BeMark);
    bytes.reserve(2 + text.size() * 2);
    const auto put = [&](std::uint32_t unit) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += encoding == Encoding::Utf16Le ? low : high;
        bytes += encoding == Encoding::Utf16Le ? high : low;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = 0;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            length = 2;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            length = 4;
        }
        std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || code < smallest[length] || code > 0x10FFFF) {
            put(0xFFFD);
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
        i += static_cast<std::size_t>(length);
    }
    return bytes;
}

} // namespace

Encoding EncodingOf(std::string_view bytes) {
    if (bytes.starts_with(kUtf16LeMark)) {
        return Encoding::Utf16Le;
    }
    return bytes.starts_with(kUtf16BeMark) ? Encoding::Utf16Be : Encoding::Bytes;
}

std::string Decode(std::string bytes, Encoding encoding) {
    return encoding == Encoding::Bytes ? bytes : FromUtf16(bytes, encoding);
}

std::string Encode(std::string text, Encoding encoding) {
    return encoding == Encoding::Bytes ? text : ToUtf16(text, encoding);
}

} // namespace platform::stand_ins
