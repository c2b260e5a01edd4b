// The hour's sound as a listener would hear it: requests go through the copy's side to the real
// sound helper, SDL's disk driver captures what the helper plays, and the tones of the test
// files are told apart by their level. The output opened before the hour is heard end to end.

#include "platform/platform.h"
#include "platform/sound/wave_file.h"
#include "platform/posix/sound_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kRate = 44100;
constexpr int kBufferFrames = 256;
constexpr std::uint32_t kAsyncFile = platform::SND_FILENAME | platform::SND_ASYNC;
constexpr double kLoud = 0.5; // of full scale; a sine's RMS is its level / sqrt(2)
constexpr double kSoft = 0.1;

// A mono 16-bit 440 Hz tone at its level from its first sample, so that its onset in the
// capture is exact; `bytes` cuts the file short.
void WriteTone(const fs::path& path, double level, double seconds, std::size_t bytes = -1) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(32767 * level *
                                               std::cos(2 * std::numbers::pi * 440 * i / kRate));
    }
    std::ofstream(path, std::ios::binary) << platform::sound::WaveFile(samples, kRate).substr(0, bytes);
}

struct Capture {
    std::vector<float> mono; // left and right averaged, full scale 1.0

    double Rms(double from, double to) const {
        const std::size_t first = std::min(mono.size(), static_cast<std::size_t>(from * kRate));
        const std::size_t last = std::min(mono.size(), static_cast<std::size_t>(to * kRate));
        double sum = 0;
        for (std::size_t i = first; i < last; ++i) {
            sum += mono[i] * mono[i];
        }
        return last > first ? std::sqrt(sum / static_cast<double>(last - first)) : 0;
    }
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Whether a child of this process (the sound helper) is still there.
bool HelperRunning() {
    std::error_code error;
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        std::ifstream stat(process.path() / "stat");
        std::string pid, name, state, parent;
        if (stat >> pid >> name >> state >> parent && parent == std::to_string(getpid()) &&
            state != "Z") {
            return true;
        }
    }
    return false;
}

// Waits for the helper to end, as it does once it has nothing left to play; false when it has
// not within ten seconds.
bool HelperEnded() {
    const auto start = Clock::now();
    while (HelperRunning() && Since(start) < 10) {
        std::this_thread::sleep_for(milliseconds(10));
        platform::posix::ReapSoundHelper();
    }
    return !HelperRunning();
}

class SoundTest : public testing::Test {
  protected:
    void SetUp() override {
        // Read once, at the first PlaySoundA of the process.
        setenv("VELMORIN_AUDIO_GRACE_MS", "300", 1);
        char name[] = "/tmp/velmorin-sound-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        capture_ = dir_ / "capture.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
    }

    void TearDown() override { fs::remove_all(dir_); }

    // What the helper played, once it has ended and with it the device session.
    Capture Session() {
        EXPECT_TRUE(HelperEnded()) << "the device session never ended";
        std::vector<std::int16_t> samples(fs::file_size(capture_) / 2);
        std::ifstream(capture_, std::ios::binary)
            .read(reinterpret_cast<char*>(samples.data()), std::ssize(samples) * 2);
        fs::remove(capture_);
        Capture capture;
        for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
            capture.mono.push_back((static_cast<float>(samples[i]) + samples[i + 1]) / 65536.0f);
        }
        return capture;
    }

    fs::path dir_;
    fs::path capture_;
};

// The hour's sound is heard from the device's first buffer, found by the program's upper-case
// name whatever its case on disk, and cut off when another starts: where the capture turns soft,
// the second sound is heard alone for its length, and then nothing. The switch is found in the
// capture itself, whose start lags the request by however long the helper took to start.
TEST_F(SoundTest, soundPlaysAtOnceAndANewStartReplacesIt) {
    WriteTone(dir_ / "long.wav", kLoud, 2.0);
    WriteTone(dir_ / "short.wav", kSoft, 0.3);
    const auto start = Clock::now();
    ASSERT_TRUE(platform::PlaySoundA((dir_ / "LONG.WAV").c_str(), nullptr, kAsyncFile));
    std::this_thread::sleep_for(milliseconds(300));
    const double switched = Since(start);
    platform::PlaySoundA((dir_ / "short.wav").c_str(), nullptr, kAsyncFile);
    const Capture heard = Session();

    const auto onset = std::find_if(heard.mono.begin(), heard.mono.end(),
                                    [](float v) { return std::abs(v) > 0.01f; });
    EXPECT_LE(onset - heard.mono.begin(), kBufferFrames) << "the sound began late";
    EXPECT_NEAR(heard.Rms(0.05, 0.25), kLoud / std::numbers::sqrt2, 0.03);
    double cut = 0.25;
    while (cut < 3 && heard.Rms(cut, cut + 0.01) > (kLoud + kSoft) / 2 / std::numbers::sqrt2) {
        cut += 0.01;
    }
    EXPECT_LT(cut, switched + 1) << "the first sound was not cut off";
    EXPECT_NEAR(heard.Rms(cut + 0.02, cut + 0.25), kSoft / std::numbers::sqrt2, 0.01)
        << "the first sound went on under the second";
    EXPECT_LT(heard.Rms(cut + 0.35, cut + 1), 0.001) << "the first sound came back";
}

// A file the helper cannot decode, or none, gives the default sound, short, at once. What is no
// regular file at all (a pipe, a folder, a device) is heard end to end, as is a sound heard once
// an output is there after none was.
TEST_F(SoundTest, soundUnplayableFileGivesTheDefaultSound) {
    std::ofstream(dir_ / "text.wav") << "this is not a sound\n";
    WriteTone(dir_ / "cut.wav", kLoud, 0.5, 30); // a header that ends inside the format block
    for (const char* name : {"missing.wav", "text.wav", "cut.wav"}) {
        platform::PlaySoundA((dir_ / name).c_str(), nullptr, kAsyncFile);
        const Capture heard = Session();
        EXPECT_GT(heard.Rms(0, 0.3), 0.02) << name << ": no default sound";
        EXPECT_LT(heard.Rms(0.5, 2.0), 0.001) << name << ": the default sound is short";
    }
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
