// The About tune through the real sequencer, heard through SDL's disk audio driver. How long a
// waiting play lasts against the sound is checked end to end, where the user hears it; here the
// files it cannot play, under the sanitizers.

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kInvalidDeviceName = 263;
constexpr std::uint32_t kInvalidFile = 296;

// A format-0 header at 480 ticks a beat, and one track: a tempo of 120 beats a minute, the
// events given, and its end.
const std::string kHeader("MThd\0\0\0\6\0\0\0\1\x01\xE0", 14);
std::string Track(const std::string& events) {
    const std::string body =
        std::string("\0\xFF\x51\x03\x07\xA1\x20", 7) + events + std::string("\0\xFF\x2F\0", 4);
    const auto size = static_cast<std::uint32_t>(body.size());
    return "MTrk" + std::string{'\0', '\0', static_cast<char>(size >> 8), static_cast<char>(size)} +
           body;
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::uint32_t Send(const std::string& command) {
    return platform::mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

TEST(RealSequencer, mciRefusesWhatCannotBePlayedAtOnceAndPlaysTheRest) {
    if (!fs::exists("/usr/share/sounds/sf2")) {
        GTEST_SKIP() << "no General MIDI sound font installed";
    }
    std::string folder = (fs::temp_directory_path() / "mci real-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string path = folder + "/ABOUT.MID";
    const std::string open = "open \"" + path + "\" type sequencer alias about";
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", (folder + "/out.raw").c_str(), 1);
    ::unsetenv("SDL_DISKAUDIODELAY");

    // Half a second of middle C on the piano.
    const std::string good = kHeader + Track(std::string("\0\x90\x3C\x64\x83\x60\x80\x3C\0", 9));
    const std::pair<const char*, std::string> files[] = {
        {"empty file", ""},
        {"not MIDI", "RIFF....WAVEfmt "},
        {"truncated track", good.substr(0, good.size() - 6)},
        {"no notes", kHeader + Track("")},
    };
    for (const auto& [label, bytes] : files) {
        std::ofstream(path, std::ios::binary) << bytes;
        EXPECT_EQ(Send(open), kInvalidFile) << label;
        EXPECT_FALSE(fs::exists(folder + "/out.raw")) << label << ": the device was opened";
        EXPECT_EQ(Send("play about wait"), kInvalidDeviceName) << label;
    }
    EXPECT_EQ(Send("open \"" + folder + "/MISSING.MID\" type sequencer alias about"), 275u);

    std::ofstream(path, std::ios::binary) << good;
    ASSERT_EQ(Send(open), 0u);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(Send("play about wait"), 0u);
    EXPECT_GE(Since(start), 0.5) << "the wait ended before the note";
    EXPECT_EQ(Send("close about"), 0u);

    // No audio: an error with a text, with no wait a user would notice, and nothing left open.
    ::setenv("SDL_AUDIODRIVER", "nonexistent", 1);
    start = Clock::now();
    const std::uint32_t code = Send(open);
    EXPECT_LT(Since(start), 5.0);
    ASSERT_NE(code, 0u);
    char text[256] = "";
    EXPECT_TRUE(platform::mciGetErrorStringA(code, text, sizeof text));
    EXPECT_STRNE(text, "");
    EXPECT_EQ(Send("play about wait"), kInvalidDeviceName);
    fs::remove_all(folder);
}

} // namespace
