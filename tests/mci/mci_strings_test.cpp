// The MCI command strings against the recording sequencer: what the program sends, what a
// caller gets back, and what happens to everything else.

#include "platform/fake/fake_sequencer.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// MCI's codes as Windows numbers them, written out here so that a wrong number in the
// implementation shows.
constexpr std::uint32_t kUnrecognizedKeyword = 259;
constexpr std::uint32_t kUnrecognizedCommand = 261;
constexpr std::uint32_t kInvalidDeviceName = 263;
constexpr std::uint32_t kMissingCommandString = 267;
constexpr std::uint32_t kMissingStringArgument = 269;
constexpr std::uint32_t kMissingParameter = 273;
constexpr std::uint32_t kUnsupportedFunction = 274;
constexpr std::uint32_t kFileNotFound = 275;
constexpr std::uint32_t kExtensionNotFound = 281;
constexpr std::uint32_t kMissingDeviceName = 292;
constexpr std::uint32_t kNoClosingQuote = 294;
constexpr std::uint32_t kDeviceNotInstalled = 306;

struct Result {
    std::uint32_t code = 0;
    std::string text; // the reply, or the error text when the command failed
};

// Sends a command the way the program's SendMciCommand does.
Result Send(const char* command) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    Result result;
    result.code = platform::mciSendStringA(command, buffer, sizeof buffer, nullptr);
    if (result.code != 0) {
        platform::mciGetErrorStringA(result.code, buffer, sizeof buffer);
    }
    result.text = buffer;
    return result;
}
Result Send(const std::string& command) {
    return Send(command.c_str());
}

class Mci : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "mci tune-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        std::ofstream(folder_ + "/ABOUT.MID") << "MThd";
        fake::SequencerCalls().clear();
    }
    void TearDown() override {
        Send("close all");
        fs::remove_all(folder_);
    }
    std::vector<std::string>& Calls() { return fake::SequencerCalls(); }

    std::string folder_; // has a blank in its name, as "Program Files" does
};

TEST_F(Mci, mciPlaysTheAboutTuneAsTheProgramSendsIt) {
    const std::string tune = folder_ + "/ABOUT.MID";
    const Result open = Send("open \"" + tune + "\" type sequencer alias about");
    EXPECT_EQ(open.code, 0u) << open.text;
    EXPECT_EQ(open.text, "1"); // MCI answers an open with the device identifier
    EXPECT_EQ(Send("play about wait").code, 0u);
    EXPECT_EQ(Send("close about").code, 0u);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"open " + tune, "play wait", "close"}));

    // The OK button's command: nothing is open as video9, and the failure carries a text.
    const Result video9 = Send("close video9");
    EXPECT_EQ(video9.code, kInvalidDeviceName);
    EXPECT_FALSE(video9.text.empty());
    // The alias went with the close.
    EXPECT_EQ(Send("play about wait").code, kInvalidDeviceName);
    EXPECT_EQ(Calls().size(), 3u);
}

TEST_F(Mci, mciAcceptsTheWaysATuneCanBeNamed) {
    fs::rename(folder_ + "/ABOUT.MID", folder_ + "/about.mid");
    const std::string plain =
        fs::temp_directory_path().string() + "/mci-plain-" + std::to_string(::getpid()) + ".Mid";
    std::ofstream(plain) << "MThd";
    const std::vector<std::string> opens = {
        // A program folder at the root gives a doubled separator; the case of the name is the
        // program's, not the file's.
        "open \"" + folder_ + "//ABOUT.MID\" type sequencer alias about",
        "OPEN \"" + folder_ + "/About.Mid\" TYPE Sequencer ALIAS About",
        "open " + plain + " alias about",
        "open sequencer!\"" + folder_ + "/about.mid\" alias about",
        "  open\t\"" + folder_ + "/about.mid\"   alias   about  wait ",
    };
    for (const std::string& open : opens) {
        const Result result = Send(open);
        EXPECT_EQ(result.code, 0u) << open << ": " << result.text;
        EXPECT_EQ(Send("PLAY About WAIT").code, 0u) << open;
        EXPECT_EQ(Send("close ABOUT").code, 0u) << open;
    }
    EXPECT_EQ(Calls().size(), 3 * opens.size());
    // Without an alias the device is known by its file name.
    EXPECT_EQ(Send("open " + plain).code, 0u);
    EXPECT_EQ(Send("play " + plain + " wait").code, 0u);
    fs::remove(plain);
}

TEST_F(Mci, mciMissingTuneFailsAtOpenAndEverythingAfterFails) {
    fs::remove(folder_ + "/ABOUT.MID");
    const Result open = Send("open \"" + folder_ + "/ABOUT.MID\" type sequencer alias about");
    EXPECT_EQ(open.code, kFileNotFound);
    EXPECT_FALSE(open.text.empty());
    EXPECT_EQ(Send("play about wait").code, kInvalidDeviceName);
    EXPECT_EQ(Send("close about").code, kInvalidDeviceName);
    EXPECT_EQ(Calls().size(), 1u) << "only the open reaches the sequencer";

    // An unquoted folder with a blank splits the path into words: the open fails before it
    // reaches the sequencer, and nothing is left open.
    std::ofstream(folder_ + "/ABOUT.MID") << "MThd";
    const Result blank = Send("open " + folder_ + "/ABOUT.MID type sequencer alias about");
    EXPECT_NE(blank.code, 0u);
    EXPECT_FALSE(blank.text.empty());
    EXPECT_EQ(Send("play about wait").code, kInvalidDeviceName);
    EXPECT_EQ(Calls().size(), 1u);
}

TEST_F(Mci, mciRejectsMalformedCommandsWithTheirCodeAndAText) {
    const std::string tune = "\"" + folder_ + "/ABOUT.MID\"";
    const struct {
        const char* label;
        std::string command;
        std::uint32_t code;
    } cases[] = {
        {"empty", "", kMissingCommandString},
        {"blanks", "  \t ", kMissingCommandString},
        {"unknown verb", "fly about", kUnrecognizedCommand},
        {"unterminated quote", "open \"" + folder_ + "/ABOUT.MID type sequencer alias about",
         kNoClosingQuote},
        {"open without a file", "open", kMissingDeviceName},
        {"alias without a name", "open " + tune + " type sequencer alias", kMissingStringArgument},
        {"unknown open keyword", "open " + tune + " type sequencer colour blue",
         kUnrecognizedKeyword},
        {"other device type", "open " + tune + " type waveaudio alias about", kDeviceNotInstalled},
        {"no type and no MIDI extension", "open \"" + folder_ + "/ABOUT.TXT\" alias about",
         kExtensionNotFound},
        {"play without a device", "play", kMissingDeviceName},
        {"play of nothing open", "play about wait", kInvalidDeviceName},
        {"known command, unknown device", "seek about to start", kInvalidDeviceName},
    };
    for (const auto& c : cases) {
        const Result result = Send(c.command);
        EXPECT_EQ(result.code, c.code) << c.label;
        EXPECT_FALSE(result.text.empty()) << c.label;
    }
    EXPECT_TRUE(Calls().empty());

    const Result null = Send(nullptr);
    EXPECT_NE(null.code, 0u);
    EXPECT_FALSE(null.text.empty());

    // With the tune open, the things this sequencer does not do are refused as such.
    ASSERT_EQ(Send("open " + tune + " type sequencer alias about").code, 0u);
    EXPECT_EQ(Send("play about from 0 to 10").code, kUnsupportedFunction);
    EXPECT_EQ(Send("play about slowly").code, kUnrecognizedKeyword);
    EXPECT_EQ(Send("pause about").code, kUnsupportedFunction);
    EXPECT_EQ(Send("status about").code, kMissingParameter);
    EXPECT_EQ(Send("status about length").code, kUnsupportedFunction);
    EXPECT_EQ(Calls().size(), 1u);
}

TEST_F(Mci, mciRepliesAndTextsFitTheCallersBuffer) {
    ASSERT_EQ(Send("open \"" + folder_ + "/ABOUT.MID\" type sequencer alias about").code, 0u);
    ASSERT_EQ(Send("play about").code, 0u);

    char small[5];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(platform::mciSendStringA("status about mode", small, 4, nullptr), 0u);
    EXPECT_STREQ(small, "pla");
    EXPECT_EQ(small[4], 'x') << "nothing is written past the length given";
    // No reply wanted: a null buffer or a zero length.
    EXPECT_EQ(platform::mciSendStringA("status about mode", nullptr, 256, nullptr), 0u);
    EXPECT_EQ(platform::mciSendStringA("status about mode", small, 0, nullptr), 0u);
    EXPECT_EQ(small[0], 'p');

    char text[16];
    std::memset(text, 'x', sizeof text);
    EXPECT_TRUE(platform::mciGetErrorStringA(kFileNotFound, text, 10));
    EXPECT_EQ(std::strlen(text), 9u);
    EXPECT_EQ(text[10], 'x');
    EXPECT_FALSE(platform::mciGetErrorStringA(kFileNotFound, nullptr, 16));
    EXPECT_FALSE(platform::mciGetErrorStringA(kFileNotFound, text, 0));

    // A code MCI does not have gets no text.
    EXPECT_FALSE(platform::mciGetErrorStringA(12345, text, sizeof text));
    EXPECT_STREQ(text, "");
    for (std::uint32_t code = 257; code <= 350; ++code) {
        char sentence[256] = "";
        if (platform::mciGetErrorStringA(code, sentence, sizeof sentence)) {
            EXPECT_GT(std::strlen(sentence), 10u) << code;
        }
    }
}

} // namespace
