// The MCI command strings against the recording sequencer: what the program sends, what a
// caller gets back, and what happens to everything else.

#include "platform/fake/fake_sequencer.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// MCI's codes as Windows numbers them, written out here so that a wrong number shows.
constexpr std::uint32_t kInvalidDeviceName = 263;
constexpr std::uint32_t kFileNotFound = 275;

struct Result {
    std::uint32_t code = 0;
    std::string text; // the reply, or the error text when the command failed
};

// Sends a command the way the program's SendMciCommand does.
Result Send(const std::string& command) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    Result result{platform::mciSendStringA(command.c_str(), buffer, sizeof buffer, nullptr), ""};
    if (result.code != 0) {
        platform::mciGetErrorStringA(result.code, buffer, sizeof buffer);
    }
    result.text = buffer;
    return result;
}

class Mci : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "mci tune-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        tune_ = "\"" + folder_ + "/ABOUT.MID\"";
        std::ofstream(folder_ + "/ABOUT.MID") << "MThd";
        fake::SequencerCalls().clear();
    }
    void TearDown() override {
        Send("close all");
        fs::remove_all(folder_);
    }

    std::string folder_; // has a blank in its name, as "Program Files" does
    std::string tune_;   // quoted, as the program sends it
};

// The program's own commands are checked through SendMciCommand by the About window's test;
// here the names it may meet. A program folder at the root gives a doubled separator, and the
// case of the name is the program's, not the file's.
TEST_F(Mci, mciPlaysTheTuneHoweverItIsNamed) {
    fs::rename(folder_ + "/ABOUT.MID", folder_ + "/about.mid");
    for (const std::string& open :
         {"open \"" + folder_ + "//ABOUT.MID\" type sequencer alias about",
          "OPEN \"" + folder_ + "/About.Mid\" TYPE Sequencer ALIAS About"}) {
        EXPECT_EQ(Send(open).code, 0u) << open;
        EXPECT_EQ(Send("PLAY About WAIT").code, 0u) << open;
        EXPECT_EQ(Send("close ABOUT").code, 0u) << open;
        EXPECT_EQ(Send("play about").code, kInvalidDeviceName) << "the alias went with the close";
    }
}

// Every refusal carries Windows' code and a text; the open between them succeeds with its reply.
TEST_F(Mci, mciRefusesWhatItCannotDoWithItsCodeAndAText) {
    const std::pair<std::string, std::uint32_t> refused[] = {
        {"", 267},
        {"  \t ", 267},
        {"fly about", 261},
        {"open", 292},
        {"play", 292},
        {"play about wait", kInvalidDeviceName},
        {"seek about to start", kInvalidDeviceName},
        {"open \"" + folder_ + "/ABOUT.MID type sequencer alias about", 294}, // no closing quote
        {"open " + tune_ + " type sequencer alias", 269},
        {"open " + tune_ + " type sequencer colour blue", 259},
        {"open " + tune_ + " type waveaudio alias about", 306},
        {"open \"" + folder_ + "/ABOUT.TXT\" alias about", 281}, // no type, no MIDI extension
        {"open \"" + folder_ + "/MISSING.MID\" type sequencer alias about", kFileNotFound},
        // Unquoted, a folder with a blank splits the path into words.
        {"open " + folder_ + "/ABOUT.MID type sequencer alias about", 259},
        // With the tune open, the things this sequencer does not do are refused as such.
        {"open " + tune_ + " type sequencer alias about", 0},
        {"play about from 0 to 10", 274},
        {"play about slowly", 259},
        {"pause about", 274},
        {"status about", 273},
        {"status about length", 274},
    };
    for (const auto& [command, code] : refused) {
        const Result result = Send(command);
        EXPECT_EQ(result.code, code) << command;
        EXPECT_FALSE(result.text.empty()) << command;
    }
    char text[64] = "";
    EXPECT_TRUE(platform::mciGetErrorStringA(platform::mciSendStringA(nullptr, nullptr, 0, nullptr),
                                             text, sizeof text));
    // Only the opens of the missing file and of the tune reach the sequencer.
    EXPECT_EQ(fake::SequencerCalls().size(), 2u);
}

// That nothing is written past a buffer is left to the fuzz target. A code MCI does not have
// gets no text; every code it has gets a sentence.
TEST_F(Mci, mciEveryCodeHasAText) {
    char small[4] = "xxx";
    EXPECT_FALSE(platform::mciGetErrorStringA(12345, small, 4));
    EXPECT_STREQ(small, "");
    for (std::uint32_t code = 257; code <= 350; ++code) {
        char sentence[256] = "";
        if (platform::mciGetErrorStringA(code, sentence, sizeof sentence)) {
            EXPECT_GT(std::strlen(sentence), 10u) << code;
        }
    }
}

} // namespace
