#include "platform/stand_ins/profile_ini.h"

#include "platform/core/text.h"

namespace platform::stand_ins {

namespace {

// Where the line that starts at `begin` ends (before its line end) and where the next one
// starts. CRLF, LF and a lone CR each end a line, as for the Windows functions.
struct Line {
    std::size_t end;
    std::size_t next;
};

Line LineAt(std::string_view text, std::size_t begin) {
    const std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string_view::npos) {
        return {text.size(), text.size()};
    }
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    return {end, end + (crlf ? 2 : 1)};
}

// The file's own line ends, as its first line shows them, are kept; a new file gets the CRLF
// that Windows writes.
std::string_view LineEnd(std::string_view text) {
    const Line first = LineAt(text, 0);
    if (first.end == text.size()) {
        return "\r\n";
    }
    return text.substr(first.end, first.next - first.end);
}

// Makes a line start at `at` by adding a line end when the text before it has none.
std::string LineStart(std::string_view text, std::size_t at, std::string_view line_end) {
    const std::size_t start = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    return (at > start && text[at - 1] != '\n' && text[at - 1] != '\r') ? std::string(line_end)
                                                                        : std::string();
}

} // namespace

Lookup Find(std::string_view text, std::string_view section, std::string_view key) {
    Lookup found;
    bool inside = false;
    std::size_t begin = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    while (begin < text.size()) {
        const auto [end, next] = LineAt(text, begin);
        const std::string_view line = Unpadded(text.substr(begin, end - begin));

        if (line.starts_with('[')) {
            if (inside) {
                found.section_end = begin;
                return found;
            }
            const std::string_view name = Unpadded(line.substr(1, line.find(']') - 1));
            if (!found.section_found && core::SameNameIgnoringCase(name, section)) {
                found.section_found = inside = true;
                found.section_begin = begin;
                found.key_insert = next;
            }
        } else if (inside && !line.empty()) {
            found.key_insert = next;
            // A line without "=" names no key: reading it gives the default, which for the quit
            // request is the harmless "0".
            const std::size_t equals = line.find('=');
            if (!line.starts_with(';') && equals != std::string_view::npos && !found.key_found &&
                core::SameNameIgnoringCase(Unpadded(line.substr(0, equals)), key)) {
                found.key_found = true;
                found.key_begin = begin;
                found.key_end = end;
                found.key_next = next;
                found.key_name = Unpadded(line.substr(0, equals));
                found.value = Unpadded(line.substr(equals + 1));
            }
        }
        begin = next;
    }
    found.section_end = text.size();
    return found;
}

bool Writable(std::string_view section, std::string_view key, std::string_view value) {
    const auto has_line_end = [](std::string_view s) {
        return s.find_first_of("\r\n") != std::string_view::npos;
    };
    if (has_line_end(section) || has_line_end(key) || has_line_end(value)) {
        return false;
    }
    const std::string_view trimmed_key = Unpadded(key);
    return !Unpadded(section).empty() && section.find(']') == std::string_view::npos &&
           !trimmed_key.empty() && key.find('=') == std::string_view::npos &&
           !trimmed_key.starts_with('[') && !trimmed_key.starts_with(';');
}

std::string Edit(const std::string& text, const char* section, const char* key, const char* value) {
    const std::string_view section_name = Unpadded(section);
    const Lookup found =
        Find(text, section_name, key == nullptr ? std::string_view() : Unpadded(key));
    const std::string_view line_end = LineEnd(text);
    std::string edited = text;

    if (key == nullptr) {
        if (found.section_found) {
            edited.erase(found.section_begin, found.section_end - found.section_begin);
        }
    } else if (value == nullptr) {
        if (found.key_found) {
            edited.erase(found.key_begin, found.key_next - found.key_begin);
        }
    } else if (found.key_found) {
        edited.replace(found.key_begin, found.key_end - found.key_begin,
                       std::string(found.key_name) + "=" + value);
    } else if (found.section_found) {
        edited.insert(found.key_insert, LineStart(text, found.key_insert, line_end) +
                                            std::string(Unpadded(key)) + "=" + value +
                                            std::string(line_end));
    } else {
        edited += LineStart(text, text.size(), line_end) + "[" + std::string(section_name) + "]" +
                  std::string(line_end) + std::string(Unpadded(key)) + "=" + value +
                  std::string(line_end);
    }
    return edited;
}

} // namespace platform::stand_ins
