// The hour's sound as a listener would hear it: SDL's disk driver captures what the device
// plays, and the tones of the test files are told apart by frequency.

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kRate = 44100;
constexpr int kBufferFrames = 1024;
constexpr double kGraceSeconds = 0.3;
constexpr std::uint32_t kAsyncFile = platform::SND_FILENAME | platform::SND_ASYNC;
constexpr double kLow = 440.0;
constexpr double kHigh = 1000.0;

void WriteWave(const fs::path& path, const std::vector<std::int16_t>& mono) {
    auto le = [](std::ofstream& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.put(static_cast<char>(value >> (8 * i)));
        }
    };
    const auto data_bytes = static_cast<std::uint32_t>(mono.size() * 2);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "RIFF";
    le(out, 36 + data_bytes, 4);
    out << "WAVEfmt ";
    le(out, 16, 4);
    le(out, 1, 2);
    le(out, 1, 2);
    le(out, kRate, 4);
    le(out, kRate * 2, 4);
    le(out, 2, 2);
    le(out, 16, 2);
    out << "data";
    le(out, data_bytes, 4);
    for (std::int16_t sample : mono) {
        le(out, static_cast<std::uint16_t>(sample), 2);
    }
}

// A tone that is at full level from its first sample, so that its onset in the capture is
// exact.
void WriteTone(const fs::path& path, double frequency, double seconds) {
    std::vector<std::int16_t> mono(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < mono.size(); ++i) {
        double t = static_cast<double>(i) / kRate;
        mono[i] = static_cast<std::int16_t>(16000 * std::cos(2 * std::numbers::pi * frequency * t));
    }
    WriteWave(path, mono);
}

struct Capture {
    std::vector<float> mono; // left and right averaged, full scale 1.0

    double Seconds() const { return static_cast<double>(mono.size()) / kRate; }

    std::size_t Index(double seconds) const {
        return std::min(mono.size(), static_cast<std::size_t>(std::max(0.0, seconds) * kRate));
    }

    // The amplitude of one frequency between two times (Goertzel).
    double Level(double frequency, double from, double to) const {
        std::size_t begin = Index(from);
        std::size_t end = Index(to);
        if (end <= begin) {
            return 0;
        }
        double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / kRate);
        double s1 = 0;
        double s2 = 0;
        for (std::size_t i = begin; i < end; ++i) {
            double s0 = mono[i] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(end - begin);
    }

    double Rms(double from, double to) const {
        std::size_t begin = Index(from);
        std::size_t end = Index(to);
        double sum = 0;
        for (std::size_t i = begin; i < end; ++i) {
            sum += mono[i] * mono[i];
        }
        return end > begin ? std::sqrt(sum / static_cast<double>(end - begin)) : 0;
    }

    std::size_t FirstSound() const {
        auto loud =
            std::find_if(mono.begin(), mono.end(), [](float v) { return std::abs(v) > 0.01f; });
        return static_cast<std::size_t>(loud - mono.begin());
    }
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SoundTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Read once, at the first PlaySoundA of the process.
        setenv("VELMORIN_AUDIO_GRACE_MS", "300", 1);
    }

    void SetUp() override {
        char name[] = "/tmp/velmorin-sound-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        capture_ = dir_ / "capture.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
    }

    void TearDown() override { fs::remove_all(dir_); }

    bool CaptureOpen() const {
        std::error_code error;
        for (const auto& fd : fs::directory_iterator("/proc/self/fd", error)) {
            if (fs::read_symlink(fd.path(), error) == capture_) {
                return true;
            }
        }
        return false;
    }

    // Waits for the device session to end (the disk driver keeps its file open while the
    // device is open) and returns what it played.
    Capture Session(double timeout_seconds = 10) {
        auto start = Clock::now();
        while (!(fs::exists(capture_) && !CaptureOpen()) && Since(start) < timeout_seconds) {
            std::this_thread::sleep_for(milliseconds(10));
        }
        EXPECT_TRUE(fs::exists(capture_) && !CaptureOpen()) << "the device session never ended";
        Capture capture;
        std::ifstream in(capture_, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        fs::remove(capture_);
        for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
            auto left = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                  static_cast<std::uint8_t>(bytes[i + 1]) << 8);
            auto right = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i + 2]) |
                                                   static_cast<std::uint8_t>(bytes[i + 3]) << 8);
            capture.mono.push_back((static_cast<float>(left) + right) / 65536.0f);
        }
        return capture;
    }

    fs::path dir_;
    fs::path capture_;
};

TEST_F(SoundTest, soundPlaysWaveFromItsFirstBuffer) {
    // The program's upper-case name finds the file whatever its case on disk.
    WriteTone(dir_ / "03.wav", kLow, 0.5);
    ASSERT_TRUE(platform::PlaySoundA((dir_ / "03.WAV").c_str(), nullptr, kAsyncFile));
    Capture heard = Session();

    std::size_t onset = heard.FirstSound();
    std::cout << "onset " << onset << " frames (" << onset * 1000.0 / kRate
              << " ms) after the device opened\n";
    EXPECT_LE(onset, static_cast<std::size_t>(kBufferFrames));
    double start = static_cast<double>(onset) / kRate;
    EXPECT_GT(heard.Level(kLow, start, start + 0.5), 0.2);
    EXPECT_LT(heard.Level(kHigh, start, start + 0.5), 0.02);
    // Played once and to its end: silence after it.
    EXPECT_LT(heard.Rms(start + 0.52, heard.Seconds()), 0.001);
}

// The program starts the hour's sound twice, eight seconds apart; the grace keeps both in one
// device session, and afterwards the device is closed and the idle program costs no CPU.
TEST_F(SoundTest, soundKeepsDeviceThroughGraceThenClosesIt) {
    WriteTone(dir_ / "first.wav", kLow, 0.3);
    WriteTone(dir_ / "second.wav", kHigh, 0.3);
    auto start = Clock::now();
    platform::PlaySoundA((dir_ / "first.wav").c_str(), nullptr, kAsyncFile);
    std::this_thread::sleep_for(milliseconds(450));
    double again = Since(start);
    platform::PlaySoundA((dir_ / "second.wav").c_str(), nullptr, kAsyncFile);
    Capture heard = Session();
    double closed = Since(start);

    EXPECT_GT(heard.Level(kLow, 0.05, 0.25), 0.2);
    EXPECT_GT(heard.Level(kHigh, again + 0.05, again + 0.25), 0.2);
    // Open through the grace after the second sound, and not much longer.
    EXPECT_GT(heard.Seconds(), again + 0.3 + kGraceSeconds - 0.05);
    EXPECT_LT(closed, again + 0.3 + kGraceSeconds + 0.5);

    double cpu = CpuSeconds();
    std::this_thread::sleep_for(milliseconds(1000));
    EXPECT_LT(CpuSeconds() - cpu, 0.01) << "the idle program kept working";
}

TEST_F(SoundTest, soundNewStartReplacesPlayingSound) {
    WriteTone(dir_ / "long.wav", kLow, 1.0);
    WriteTone(dir_ / "short.wav", kHigh, 0.3);
    const std::string long_path = dir_ / "long.wav";

    // Another sound: the first is cut off.
    auto start = Clock::now();
    platform::PlaySoundA(long_path.c_str(), nullptr, kAsyncFile);
    std::this_thread::sleep_for(milliseconds(300));
    double switched = Since(start);
    platform::PlaySoundA((dir_ / "short.wav").c_str(), nullptr, kAsyncFile);
    Capture heard = Session();
    EXPECT_GT(heard.Level(kLow, 0.05, 0.25), 0.2);
    EXPECT_GT(heard.Level(kHigh, switched + 0.05, switched + 0.25), 0.2);
    EXPECT_LT(heard.Rms(switched + 0.4, 1.1), 0.001) << "the first sound went on";
}

// Whatever sits under the sound's name, the worker answers at once: a file it cannot play,
// and anything that is not a regular file (a pipe with no writer, a folder, a device), gives
// the default sound, or silence when refused, and the next sound is heard as usual.
TEST_F(SoundTest, soundUnplayableFileGivesDefaultSoundUnlessRefused) {
    std::ofstream(dir_ / "text.wav") << "this is not a sound\n";
    std::vector<std::int16_t> cut(20000, 1000);
    WriteWave(dir_ / "cut.wav", cut);
    fs::resize_file(dir_ / "cut.wav", 30); // a header that ends inside the format block
    ASSERT_EQ(mkfifo((dir_ / "fifo.wav").c_str(), 0600), 0);
    fs::create_directory(dir_ / "folder.wav");
    fs::create_symlink("/dev/zero", dir_ / "device.wav");

    const char* unplayable[] = {"missing.wav", "text.wav",   "cut.wav",   "",
                                "fifo.wav",    "folder.wav", "device.wav"};
    for (const char* name : unplayable) {
        SCOPED_TRACE(name);
        platform::PlaySoundA((dir_ / name).c_str(), nullptr, kAsyncFile);
        Capture heard = Session();
        EXPECT_GT(heard.Rms(0, 0.3), 0.02) << "no default sound";
        EXPECT_LT(heard.Seconds(), 1.5);
    }

    for (const char* name : unplayable) {
        SCOPED_TRACE(name);
        platform::PlaySoundA((dir_ / name).c_str(), nullptr, kAsyncFile | platform::SND_NODEFAULT);
    }
    std::this_thread::sleep_for(milliseconds(500));
    if (fs::exists(capture_)) {
        EXPECT_LT(Session().Rms(0, 10), 0.001);
    }

    WriteTone(dir_ / "tone.wav", kLow, 0.3);
    platform::PlaySoundA((dir_ / "tone.wav").c_str(), nullptr, kAsyncFile);
    EXPECT_GT(Session().Level(kLow, 0.05, 0.25), 0.2) << "a later sound was not heard";
}

TEST_F(SoundTest, soundWithoutDeviceGoesOnSilentlyAndRetries) {
    WriteTone(dir_ / "tone.wav", kLow, 0.3);
    const std::string path = dir_ / "tone.wav";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    for (int i = 0; i < 3; ++i) {
        auto start = Clock::now();
        EXPECT_TRUE(platform::PlaySoundA(path.c_str(), nullptr, kAsyncFile));
        EXPECT_LT(Since(start), 0.05);
        std::this_thread::sleep_for(milliseconds(200));
    }
    EXPECT_FALSE(fs::exists(capture_));

    // Once a device is there again, the next start is heard.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    platform::PlaySoundA(path.c_str(), nullptr, kAsyncFile);
    EXPECT_GT(Session().Level(kLow, 0.05, 0.25), 0.2);
}

} // namespace
