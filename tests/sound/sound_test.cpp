// The hour's sound as a listener would hear it: requests go through the copy's side to the real
// sound helper, and SDL's disk driver captures what the helper plays. A file that is missing,
// no file or no sound, no output at first, and the output opened before the hour are heard end
// to end.

#include "platform/platform.h"
#include "platform/posix/sound_client.h"
#include "platform/sound/wave_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr int kRate = 44100;
constexpr std::uint32_t kAsyncFile = platform::SND_FILENAME | platform::SND_ASYNC;

// A 440 Hz tone at `level` of full scale; `bytes` cuts the file short.
void WriteTone(const fs::path& path, double level, double seconds, std::size_t bytes = -1) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(32767 * level *
                                               std::sin(2 * std::numbers::pi * 440 * i / kRate));
    }
    std::ofstream(path, std::ios::binary)
        << platform::sound::WaveFile(samples, kRate).substr(0, bytes);
}

class SoundTest : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/velmorin-sound-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        setenv("VELMORIN_AUDIO_GRACE_MS", "300", 1);
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (dir_ / "capture.raw").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The peak level, 0 to 1, of each 50 ms the helper played, once it has ended (the disk
    // driver writes at real-time pace from the moment the output opens).
    std::vector<double> Heard() {
        while (::waitpid(-1, nullptr, 0) > 0) {
        }
        std::ifstream capture(dir_ / "capture.raw", std::ios::binary);
        std::vector<double> peaks;
        std::int16_t frame[2];
        for (int n = 0; capture.read(reinterpret_cast<char*>(frame), sizeof frame); ++n) {
            if (n % (kRate / 20) == 0) {
                peaks.push_back(0);
            }
            peaks.back() = std::max(peaks.back(), std::abs(frame[0]) / 32768.0);
        }
        fs::remove(dir_ / "capture.raw");
        return peaks;
    }

    fs::path dir_;
};

// The sound is found by the program's upper-case name whatever its case on disk, heard from the
// output's first buffer, and cut off by the next start: the second sound is heard alone for its
// length, and then nothing.
TEST_F(SoundTest, soundPlaysAtOnceAndANewStartReplacesIt) {
    WriteTone(dir_ / "long.wav", 0.5, 2.0);
    WriteTone(dir_ / "short.wav", 0.1, 0.3);
    ASSERT_TRUE(platform::PlaySoundA((dir_ / "LONG.WAV").c_str(), nullptr, kAsyncFile));
    std::this_thread::sleep_for(milliseconds(500));
    platform::PlaySoundA((dir_ / "short.wav").c_str(), nullptr, kAsyncFile);
    const std::vector<double> heard = Heard();
    ASSERT_GT(heard.size(), 40u);
    EXPECT_GT(heard[0], 0.45) << "the sound began late";
    std::size_t soft = 1;
    while (soft < heard.size() && heard[soft] > 0.3) {
        ++soft;
    }
    ASSERT_LT(soft, 30u) << "the first sound was not cut off";
    EXPECT_NEAR(heard[soft + 2], 0.1, 0.02) << "the first sound went on under the second";
    EXPECT_LT(heard[soft + 10], 0.001) << "the first sound came back";
}

} // namespace

namespace platform {

// The helper is found beside the program, as the copies find it.
std::string ProgramFolder() {
    return VELMORIN_PROGRAM_DIR;
}

bool PlaySoundA(const char* sound, void*, std::uint32_t flags) {
    return posix::RequestSound(sound, flags);
}

} // namespace platform
