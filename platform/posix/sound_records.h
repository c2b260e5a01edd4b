#pragma once

// The requests a copy sends its sound helper (velmorin-sound) on the helper's standard input: the
// one description of them, with the one encoder the copy uses and the one decoder the helper
// uses. docs/architecture.md ("The sound helper's requests") tells the same in prose.
//
// A record is text ended by one code-0 byte, so a path or the words may hold any other byte,
// blanks and line ends included:
//   "ready"                      open the output now and hold it open kReadyHoldMs from now;
//   "play NODEFAULT VOLUME PATH" read PATH afresh and play it at once, replacing any sound and
//                                any speech that waits; NODEFAULT is 0 or 1 (1: silence rather
//                                than the default alert when PATH cannot be played);
//   "stop"                       silence the sound that is playing and the speech that waits;
//   "speak VOLUME LANG WORDS"    render WORDS in LANG ("ja" or "en") now and play them the moment
//                                the sound that plays (or was just asked for) ends.
// VOLUME is 0 to 100, percent of the samples' own level. Anything else is no request: the
// helper skips it and goes on with the next record.
//
// Timing: the copy sends "ready" after every tick from a few seconds before a chime through the
// chime itself (core::PrepareSound; platform/core/tick_timers.cpp decides when). Each one holds the
// output open kReadyHoldMs from its arrival, longer than a tick, so the output stays open without a
// gap until the chime is asked for; after its last sound the helper stays a short grace, then ends.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform::posix {

inline constexpr int kReadyHoldMs = 2000;
// Longer than any path or words the program sends; a longer record is dropped whole.
inline constexpr std::size_t kMaxRecordBytes = 65536;

struct SoundReady {};
struct SoundStop {};
struct SoundPlay {
    bool no_default = false;
    int volume = 100;
    std::string path;
};
struct SoundSpeak {
    int volume = 100;
    std::string language;
    std::string words;
};
using SoundRecord = std::variant<SoundReady, SoundStop, SoundPlay, SoundSpeak>;

// The record's bytes, terminator included; empty when the record cannot be sent (a code-0 byte,
// or an empty path or words, or a volume or language out of range, or too long).
std::string EncodeSoundRecord(const SoundRecord& record);
// One record's text, without its terminator; nothing when it is no request.
std::optional<SoundRecord> DecodeSoundRecord(std::string_view text);

// Splits the helper's input into records as it arrives, in pieces of any size.
class SoundRecordReader {
  public:
    // The requests completed by these bytes, in order; what is no request is skipped, and a
    // record that grows past kMaxRecordBytes is dropped up to its terminator.
    std::vector<SoundRecord> Take(std::string_view bytes);

  private:
    std::string partial_;
    bool dropping_ = false;
};

} // namespace platform::posix
