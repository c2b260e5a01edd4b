#include "platform/posix/sound_records.h"

#include <gtest/gtest.h>

using namespace platform::posix;

namespace {

std::string Text(const SoundRecord& record) {
    std::string bytes = EncodeSoundRecord(record);
    return bytes.empty() ? "(none)" : bytes.substr(0, bytes.size() - 1);
}

} // namespace

// What the copy sends arrives as it was sent, whatever a path or the words hold, in pieces of any
// size; what the copy would never send is no request, and the records after it still are.
TEST(SoundRecords, EveryRequestCrossesAndNothingElseDoes) {
    const std::vector<SoundRecord> sent = {
        SoundReady{},
        SoundPlay{true, 0, "/home/a b/時報\nx/03.WAV"},
        SoundStop{},
        SoundSpeak{100, "ja", "ごご さんじ です"},
        SoundPlay{false, 100, " play 1 100 /x"},
        SoundSpeak{7, "en", "It's twelve noon"},
    };
    std::string stream;
    for (const SoundRecord& record : sent) {
        stream += EncodeSoundRecord(record);
    }
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, stream.size()}) {
        SoundRecordReader reader;
        std::vector<SoundRecord> got;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            for (SoundRecord& record : reader.Take(std::string_view(stream).substr(at, piece))) {
                got.push_back(std::move(record));
            }
        }
        ASSERT_EQ(got.size(), sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(Text(got[i]), Text(sent[i]));
        }
    }

    // Nothing the copy cannot send is encoded.
    for (const SoundRecord& record : std::vector<SoundRecord>{
             SoundPlay{false, 100, ""}, SoundPlay{false, 101, "/x"},
             SoundPlay{false, 50, std::string("/a\0b", 4)}, SoundSpeak{50, "fr", "Il est"},
             SoundSpeak{50, "en", ""}, SoundPlay{false, 5, std::string(kMaxRecordBytes, 'x')}}) {
        EXPECT_EQ(EncodeSoundRecord(record), "");
    }

    // Hostile input: unknown verbs, bad fields, a record without its terminator, an oversized
    // one whose tail must not pass for a record of its own.
    std::string hostile;
    for (const char* text : {"", "Ready", "ready ", "play", "play 1 100", "play 1 100 ",
                             "play 2 100 /x", "play 1 -5 /x", "play 1 1000 /x", "play 1 +5 /x",
                             "play 1 5x /x", "speak 100 fr words", "speak 100 ja", "reboot now"}) {
        hostile += std::string(text) + '\0';
    }
    hostile += std::string(kMaxRecordBytes, 'x') + std::string("stop") + '\0';
    hostile += EncodeSoundRecord(SoundStop{}) + "play 0 100 /unended";
    SoundRecordReader reader;
    const std::vector<SoundRecord> got = reader.Take(hostile);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<SoundStop>(got[0]));
    EXPECT_EQ(Text(*DecodeSoundRecord("play 1 7 /a b")), "play 1 7 /a b");
}
