#include "platform/core/text.h"
#include "platform/platform.h"
#include "platform/stand_ins/sequencer.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The MCI command strings the program sends to its one device, the MIDI sequencer, and enough
// of the rest of MCI's grammar to answer anything else with an honest error code.

namespace platform {

namespace {

struct Word {
    std::string text;
    bool quoted = false; // the word began with a quotation mark
};

struct Device {
    std::string alias; // folded to lower case; MCI ignores the case of aliases
};

struct MciState {
    std::mutex lock;
    std::optional<Device> device;
};

// Commands are serialised: one that waits for the tune holds off the others until it ends,
// as MCI's own waiting commands do.
MciState& State() {
    static MciState state;
    return state;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Splits a command into words at blanks. A quoted stretch keeps its blanks and loses its
// quotation marks; it may start inside a word ("sequencer!"C:\My Music\a.mid"") but must end
// the word.
std::uint32_t SplitWords(std::string_view command, std::vector<Word>& words) {
    std::size_t at = 0;
    while (true) {
        while (at < command.size() && IsBlank(command[at])) {
            ++at;
        }
        if (at == command.size()) {
            return 0;
        }
        Word word;
        word.quoted = command[at] == '"';
        while (at < command.size() && !IsBlank(command[at])) {
            if (command[at] != '"') {
                word.text += command[at++];
                continue;
            }
            const std::size_t close = command.find('"', at + 1);
            if (close == std::string_view::npos) {
                return MCIERR_NO_CLOSING_QUOTE;
            }
            word.text.append(command.substr(at + 1, close - at - 1));
            at = close + 1;
            if (at < command.size() && !IsBlank(command[at])) {
                return MCIERR_EXTRA_CHARACTERS;
            }
        }
        words.push_back(std::move(word));
    }
}

// The extension of a file name, in lower case, without its dot.
std::string Extension(std::string_view file) {
    const std::size_t name = file.find_last_of("/\\");
    const std::size_t dot = file.rfind('.');
    if (dot == std::string_view::npos || (name != std::string_view::npos && dot < name)) {
        return {};
    }
    return core::FoldCase(file.substr(dot + 1));
}

bool IsMidiFile(std::string_view file) {
    const std::string extension = Extension(file);
    return extension == "mid" || extension == "midi" || extension == "rmi";
}

// "wait" and "notify" may follow any command. There is no callback window to notify, and a
// command that can wait (play) looks for "wait" itself.
bool IsGeneralFlag(std::string_view folded) {
    return folded == "wait" || folded == "notify";
}

std::uint32_t CheckGeneralFlags(const std::vector<Word>& words, std::size_t from) {
    for (std::size_t i = from; i < words.size(); ++i) {
        if (!IsGeneralFlag(core::FoldCase(words[i].text))) {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    return 0;
}

std::uint32_t Open(MciState& state, const std::vector<Word>& words, std::string& reply) {
    if (words.size() < 2) {
        return MCIERR_MISSING_DEVICE_NAME;
    }
    std::string element = words[1].text;
    std::optional<std::string> type;
    std::optional<std::string> alias;
    // "sequencer!file" names the device type and the file in one word. A quoted word is a file
    // name whatever it contains.
    const std::size_t bang = element.find('!');
    if (!words[1].quoted && bang != std::string::npos) {
        type = element.substr(0, bang);
        element.erase(0, bang + 1);
    }
    for (std::size_t i = 2; i < words.size(); ++i) {
        const std::string keyword = core::FoldCase(words[i].text);
        if (keyword == "type" || keyword == "alias") {
            std::optional<std::string>& value = keyword == "type" ? type : alias;
            if (value) {
                return MCIERR_DUPLICATE_FLAGS;
            }
            if (i + 1 == words.size() || words[i + 1].text.empty()) {
                return MCIERR_MISSING_STRING_ARGUMENT;
            }
            value = words[++i].text;
        } else if (keyword == "shareable") {
            return MCIERR_UNSUPPORTED_FUNCTION;
        } else if (!IsGeneralFlag(keyword)) {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }

    if (element.empty()) {
        return MCIERR_FILENAME_REQUIRED;
    }
    if (type) {
        if (core::FoldCase(*type) != "sequencer") {
            return MCIERR_DEVICE_NOT_INSTALLED;
        }
    } else if (core::FoldCase(element) == "sequencer") {
        return MCIERR_FILENAME_REQUIRED;
    } else if (!IsMidiFile(element)) {
        return MCIERR_EXTENSION_NOT_FOUND;
    }

    // Without an alias MCI names the device after its file.
    const std::string folded_alias = core::FoldCase(alias ? *alias : element);
    if (folded_alias == "all") {
        return MCIERR_CANNOT_USE_ALL;
    }
    if (state.device) {
        return state.device->alias == folded_alias ? MCIERR_DUPLICATE_ALIAS : MCIERR_SEQ_PORT_INUSE;
    }
    if (const std::uint32_t error = sequencer::Open(element)) {
        return error;
    }
    state.device = Device{folded_alias};
    // MCI answers an open with the new device's identifier; there is only ever one.
    // Written as one character: GCC 12 at -O3 warns falsely (-Wrestrict) on assigning a literal.
    reply.assign(1, '1');
    return 0;
}

// The device a command names, or the error for a command that names none or another.
std::uint32_t FindDevice(const MciState& state, const std::vector<Word>& words) {
    if (words.size() < 2 || words[1].text.empty()) {
        return MCIERR_MISSING_DEVICE_NAME;
    }
    const std::string name = core::FoldCase(words[1].text);
    if (name == "all") {
        return MCIERR_CANNOT_USE_ALL;
    }
    if (!state.device || state.device->alias != name) {
        return MCIERR_INVALID_DEVICE_NAME;
    }
    return 0;
}

std::uint32_t Play(const MciState& state, const std::vector<Word>& words) {
    if (const std::uint32_t error = FindDevice(state, words)) {
        return error;
    }
    bool wait = false;
    for (std::size_t i = 2; i < words.size(); ++i) {
        const std::string keyword = core::FoldCase(words[i].text);
        if (keyword == "wait") {
            wait = true;
        } else if (keyword == "from" || keyword == "to") {
            return MCIERR_UNSUPPORTED_FUNCTION;
        } else if (keyword != "notify") {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    return sequencer::Play(wait);
}

std::uint32_t Stop(const MciState& state, const std::vector<Word>& words) {
    if (const std::uint32_t error = FindDevice(state, words)) {
        return error;
    }
    if (const std::uint32_t error = CheckGeneralFlags(words, 2)) {
        return error;
    }
    sequencer::Stop();
    return 0;
}

std::uint32_t Close(MciState& state, const std::vector<Word>& words) {
    const bool all = words.size() >= 2 && core::FoldCase(words[1].text) == "all";
    if (!all) {
        if (const std::uint32_t error = FindDevice(state, words)) {
            return error;
        }
    }
    if (const std::uint32_t error = CheckGeneralFlags(words, 2)) {
        return error;
    }
    if (state.device) {
        sequencer::Close();
        state.device.reset();
    }
    return 0;
}

std::uint32_t Status(const MciState& state, const std::vector<Word>& words, std::string& reply) {
    if (const std::uint32_t error = FindDevice(state, words)) {
        return error;
    }
    if (words.size() < 3) {
        return MCIERR_MISSING_PARAMETER;
    }
    if (core::FoldCase(words[2].text) != "mode") {
        return MCIERR_UNSUPPORTED_FUNCTION;
    }
    if (const std::uint32_t error = CheckGeneralFlags(words, 3)) {
        return error;
    }
    reply = sequencer::Playing() ? "playing" : "stopped";
    return 0;
}

// MCI commands that exist but that this sequencer does not carry out. They still name a device,
// and a wrong name is reported as such.
bool IsOtherMciCommand(std::string_view folded) {
    static constexpr std::string_view kCommands[] = {
        "break",    "capability", "configure", "copy",   "cue",  "cut",   "delete",
        "escape",   "freeze",     "info",      "list",   "load", "paste", "pause",
        "put",      "realize",    "record",    "resume", "save", "seek",  "set",
        "setaudio", "setvideo",   "signal",    "sound",  "spin", "step",  "sysinfo",
        "unfreeze", "update",     "where",     "window",
    };
    return std::find(std::begin(kCommands), std::end(kCommands), folded) != std::end(kCommands);
}

std::uint32_t Run(const char* command, std::string& reply) {
    if (command == nullptr) {
        return MCIERR_NULL_PARAMETER_BLOCK;
    }
    std::vector<Word> words;
    if (const std::uint32_t error = SplitWords(command, words)) {
        return error;
    }
    if (words.empty()) {
        return MCIERR_MISSING_COMMAND_STRING;
    }

    MciState& state = State();
    std::lock_guard guard(state.lock);
    const std::string verb = core::FoldCase(words[0].text);
    if (verb == "open") {
        return Open(state, words, reply);
    }
    if (verb == "play") {
        return Play(state, words);
    }
    if (verb == "stop") {
        return Stop(state, words);
    }
    if (verb == "close") {
        return Close(state, words);
    }
    if (verb == "status") {
        return Status(state, words, reply);
    }
    if (IsOtherMciCommand(verb)) {
        if (const std::uint32_t error = FindDevice(state, words)) {
            return error;
        }
        return MCIERR_UNSUPPORTED_FUNCTION;
    }
    return MCIERR_UNRECOGNIZED_COMMAND;
}

} // namespace

std::uint32_t mciSendStringA(const char* command, char* return_string, std::uint32_t return_length,
                             void* /*callback_window*/) {
    std::string reply;
    const std::uint32_t error = Run(command, reply);
    core::CopyOut(error == 0 ? reply : std::string_view(), return_string, return_length);
    return error;
}

} // namespace platform
