#include "platform/posix/sound_records.h"

#include <charconv>

namespace platform::posix {

namespace {

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };

// Clang 14 deduces no aggregate's arguments without a guide.
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

bool VolumeInRange(int volume) {
    return volume >= 0 && volume <= 100;
}

bool LanguageKnown(std::string_view language) {
    return language == "ja" || language == "en";
}

// The next blank-ended field of `text`, taken off its front; nothing when there is no blank.
std::optional<std::string_view> Field(std::string_view& text) {
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view field = text.substr(0, blank);
    text.remove_prefix(blank + 1);
    return field;
}

// Digits only, as the encoder writes them: no sign, no blank, no leading plus.
std::optional<int> Volume(std::optional<std::string_view> field) {
    int volume = -1;
    if (!field || field->empty() || field->size() > 3) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(field->data(), field->data() + field->size(), volume);
    if (error != std::errc() || end != field->data() + field->size() || !VolumeInRange(volume)) {
        return std::nullopt;
    }
    return volume;
}

} // namespace

std::string EncodeSoundRecord(const SoundRecord& record) {
    std::string text = std::visit(Overloaded{
                                      [](const SoundReady&) { return std::string("ready"); },
                                      [](const SoundStop&) { return std::string("stop"); },
                                      [](const SoundPlay& play) {
                                          if (play.path.empty() || !VolumeInRange(play.volume)) {
                                              return std::string();
                                          }
                                          return std::string("play ") +
                                                 (play.no_default ? "1 " : "0 ") +
                                                 std::to_string(play.volume) + " " + play.path;
                                      },
                                      [](const SoundSpeak& speak) {
                                          if (speak.words.empty() || !VolumeInRange(speak.volume) ||
                                              !LanguageKnown(speak.language)) {
                                              return std::string();
                                          }
                                          return "speak " + std::to_string(speak.volume) + " " +
                                                 speak.language + " " + speak.words;
                                      },
                                  },
                                  record);
    if (text.empty() || text.find('\0') != std::string::npos || text.size() > kMaxRecordBytes) {
        return {};
    }
    return text + '\0';
}

std::optional<SoundRecord> DecodeSoundRecord(std::string_view text) {
    if (text == "ready") {
        return SoundReady{};
    }
    if (text == "stop") {
        return SoundStop{};
    }
    std::string_view rest = text;
    const std::optional<std::string_view> verb = Field(rest);
    if (verb == "play") {
        const std::optional<std::string_view> no_default = Field(rest);
        const std::optional<int> volume = Volume(Field(rest));
        if ((no_default != "0" && no_default != "1") || !volume || rest.empty()) {
            return std::nullopt;
        }
        return SoundPlay{*no_default == "1", *volume, std::string(rest)};
    }
    if (verb == "speak") {
        const std::optional<int> volume = Volume(Field(rest));
        const std::optional<std::string_view> language = Field(rest);
        if (!volume || !language || !LanguageKnown(*language) || rest.empty()) {
            return std::nullopt;
        }
        return SoundSpeak{*volume, std::string(*language), std::string(rest)};
    }
    return std::nullopt;
}

std::vector<SoundRecord> SoundRecordReader::Take(std::string_view bytes) {
    std::vector<SoundRecord> records;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\0');
        const std::string_view piece = bytes.substr(0, end);
        if (!dropping_) {
            partial_.append(piece);
        }
        if (partial_.size() > kMaxRecordBytes) {
            // The rest of an oversized record is not read as a record of its own.
            partial_.clear();
            dropping_ = true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        if (!dropping_) {
            if (std::optional<SoundRecord> record = DecodeSoundRecord(partial_)) {
                records.push_back(std::move(*record));
            }
        }
        partial_.clear();
        dropping_ = false;
        bytes.remove_prefix(end + 1);
    }
    return records;
}

} // namespace platform::posix
