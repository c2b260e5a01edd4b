// The About tune through the real sequencer, heard through SDL's disk audio driver, which writes
// the stream to a file at real-time pace from the moment the device opens.

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kFileNotFound = 275;
constexpr std::uint32_t kInvalidDeviceName = 263;
constexpr std::uint32_t kInvalidFile = 296;
constexpr double kRate = 44100;
// About -60 dBFS: anything above it in the capture counts as heard.
constexpr int kAudible = 32;

std::string VarLength(std::uint32_t value) {
    std::string bytes(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0) {
        bytes.insert(bytes.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    }
    return bytes;
}

std::string BigEndian(std::uint32_t value, int bytes) {
    std::string out;
    while (bytes-- > 0) {
        out += static_cast<char>((value >> (8 * bytes)) & 0xFF);
    }
    return out;
}

// A one-track MIDI file at 120 beats a minute, 480 ticks a beat: each key a half-second note
// on the piano, one after the other.
std::string Tune(const std::vector<int>& keys) {
    std::string track =
        VarLength(0) + "\xFF\x51\x03\x07\xA1\x20" + VarLength(0) + "\xC0" + std::string(1, '\0');
    for (const int key : keys) {
        track += VarLength(0) + "\x90" + static_cast<char>(key) + "\x64";
        track += VarLength(480) + "\x80" + static_cast<char>(key) + std::string(1, '\0');
    }
    track += VarLength(0) + "\xFF\x2F" + std::string(1, '\0');
    return "MThd" + BigEndian(6, 4) + BigEndian(0, 2) + BigEndian(1, 2) + BigEndian(480, 2) +
           "MTrk" + BigEndian(static_cast<std::uint32_t>(track.size()), 4) + track;
}

struct Heard {
    double first = -1; // seconds into the capture of the first and last audible sample
    double last = -1;
};

class RealSequencer : public testing::Test {
  protected:
    void SetUp() override {
        bool sound_font = false;
        std::error_code error;
        for (fs::directory_iterator entry("/usr/share/sounds/sf2", error), end;
             !error && entry != end; entry.increment(error)) {
            sound_font = sound_font || entry->path().extension() == ".sf2";
        }
        if (!sound_font) {
            GTEST_SKIP() << "no General MIDI sound font installed";
        }
        std::string pattern = (fs::temp_directory_path() / "mci real-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        capture_ = folder_ + "/out.raw";
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
        ::unsetenv("SDL_DISKAUDIODELAY");
    }
    void TearDown() override {
        platform::mciSendStringA("close all", nullptr, 0, nullptr);
        if (!folder_.empty()) {
            fs::remove_all(folder_);
        }
    }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = folder_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::uint32_t Send(const std::string& command) {
        return platform::mciSendStringA(command.c_str(), nullptr, 0, nullptr);
    }
    static std::string Reply(const std::string& command) {
        char reply[64] = "";
        EXPECT_EQ(platform::mciSendStringA(command.c_str(), reply, sizeof reply, nullptr), 0u);
        return reply;
    }
    Heard Listen() const {
        std::ifstream in(capture_, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        std::vector<std::int16_t> samples(bytes.size() / sizeof(std::int16_t));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(std::int16_t));
        Heard heard;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (std::abs(static_cast<int>(samples[i])) > kAudible) {
                const double at = static_cast<double>(i / 2) / kRate;
                heard.first = heard.first < 0 ? at : heard.first;
                heard.last = at;
            }
        }
        return heard;
    }
    static double Since(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    std::string folder_;
    std::string capture_;
};

TEST_F(RealSequencer, mciWaitingPlayEndsRightAfterTheLastNoteDiesAway) {
    const std::string tune = Write("ABOUT.MID", Tune({60, 64, 67}));
    ASSERT_EQ(Send("open \"" + tune + "\" type sequencer alias about"), 0u);
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(Send("play about wait"), 0u);
    const double returned = Since(start);
    EXPECT_EQ(Reply("status about mode"), "stopped");
    ASSERT_EQ(Send("close about"), 0u);

    const Heard heard = Listen();
    ASSERT_GE(heard.first, 0) << "nothing was heard";
    // The sound starts as play is sent; the wait ends at most 0.3 s after the sound does, and
    // never while it still sounds.
    const double sounded = heard.last - heard.first;
    EXPECT_GE(sounded, 1.5) << "the three half-second notes did not all play";
    EXPECT_LE(returned - sounded, 0.3) << "sounded " << sounded << " s, returned at " << returned;
    EXPECT_GE(returned - sounded, -0.05) << "returned before the sound had ended";
    // The tune stays at its end, as MCI's does.
    EXPECT_EQ(Send("open \"" + tune + "\" type sequencer alias about"), 0u);
    const Clock::time_point again = Clock::now();
    EXPECT_EQ(Send("play about wait"), 0u);
    EXPECT_GE(Since(again), 1.5) << "a fresh open plays the tune from the start";
}

TEST_F(RealSequencer, mciRefusesWhatCannotBePlayedAtOnce) {
    const std::string header =
        "MThd" + BigEndian(6, 4) + BigEndian(0, 2) + BigEndian(1, 2) + BigEndian(480, 2);
    const std::string silent =
        "MTrk" + BigEndian(4, 4) + VarLength(0) + "\xFF\x2F" + std::string(1, '\0');
    const std::string good = Tune({60});
    const struct {
        const char* label;
        std::string bytes;
        std::uint32_t code;
    } files[] = {
        {"empty file", "", kInvalidFile},
        {"not MIDI", "RIFF....WAVEfmt ", kInvalidFile},
        {"truncated track", good.substr(0, good.size() - 6), kInvalidFile},
        {"no notes", header + silent, kInvalidFile},
    };
    for (const auto& file : files) {
        const std::string path = Write("ABOUT.MID", file.bytes);
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(Send("open \"" + path + "\" type sequencer alias about"), file.code)
            << file.label;
        EXPECT_LT(Since(start), 1.0) << file.label;
        EXPECT_EQ(Send("play about wait"), kInvalidDeviceName) << file.label;
    }
    EXPECT_EQ(Send("open \"" + folder_ + "/MISSING.MID\" type sequencer alias about"),
              kFileNotFound);

    // No audio: an error with a text, promptly, and nothing left open.
    ::setenv("SDL_AUDIODRIVER", "nonexistent", 1);
    const std::string path = Write("ABOUT.MID", good);
    const Clock::time_point start = Clock::now();
    const std::uint32_t code = Send("open \"" + path + "\" type sequencer alias about");
    EXPECT_LT(Since(start), 1.0);
    ASSERT_NE(code, 0u);
    char text[256] = "";
    EXPECT_TRUE(platform::mciGetErrorStringA(code, text, sizeof text));
    EXPECT_STRNE(text, "");
    EXPECT_EQ(Send("play about wait"), kInvalidDeviceName);
}

} // namespace
