#include "app/frmMain.h"
#include "platform/fake/fake_sequencer.h"
#include "program_folder.h"
#include "windows/frmAbout.h"
#include "windows/frmSetting.h"

class WindowsTest : public ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        fake::Reset(folder_.string(), /*another_copy_running=*/true);
        fake::SequencerCalls().clear();
        std::ofstream(folder_ / "ABOUT.MID") << "MThd";
        fake::SetScreen(1280 * 15, 1024 * 15);
        fake::Start(frmMain);
    }
};

TEST_F(WindowsTest, ControlWindowIsCentredByItsOuterSize) {
    const fake::Placement at = fake::Position(frmSetting);
    EXPECT_FLOAT_EQ(at.left, (1280 * 15 - (3795 + fake::kFrameWidth)) / 2.0f);
    EXPECT_FLOAT_EQ(at.top, (1024 * 15 - (3720 + fake::kFrameHeight)) / 2.0f);

    // A screen smaller than the window gives a negative, unrounded position.
    platform::Unload(frmSetting);
    fake::SetScreen(3001, 3001);
    platform::Show(frmSetting);
    EXPECT_FLOAT_EQ(fake::Position(frmSetting).left, (3001 - (3795 + fake::kFrameWidth)) / 2.0f);
    EXPECT_LT(fake::Position(frmSetting).top, 0);
}

TEST_F(WindowsTest, AlarmQuitWritesTheRequestAndEnds) {
    fake::Click(frmSetting, "cmdQuit");
    EXPECT_EQ(IniText(), "[Form]\r\nQuit=1\r\n");
    EXPECT_TRUE(fake::Ended());
    EXPECT_TRUE(fake::MessageBoxes().empty());
}

TEST_F(WindowsTest, AlarmQuitSaysSoWhenTheRequestCannotBeWritten) {
    std::filesystem::remove(Ini());
    std::filesystem::create_directory(Ini());
    fake::Click(frmSetting, "cmdQuit");
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    EXPECT_NE(fake::MessageBoxes()[0].find(Ini()), std::string::npos);
    EXPECT_TRUE(fake::Ended());
}

TEST_F(WindowsTest, AboutPaintsThenPlaysTheTuneAndOkClosesIt) {
    fake::Click(frmSetting, "cmdAbout");
    ASSERT_TRUE(fake::IsVisible(frmAbout));
    EXPECT_EQ(fake::ControlText(frmAbout, "Label1"),
              "Velmorin Ver.3.5\r\n© 2025-2026 Velmorin\r\n\r\nフリーソフト\r\n"
              "作: Velmorin 開発チーム");
    EXPECT_EQ(fake::EventPasses(), 1);
    const fake::Placement at = fake::Position(frmAbout);
    EXPECT_FLOAT_EQ(at.left, (1280 * 15 - (4320 + fake::kFrameWidth)) / 2.0f);
    EXPECT_FLOAT_EQ(at.top, (1024 * 15 - (2475 + fake::kFrameHeight)) / 2.0f);
    const std::vector<std::string> tune = {"open " + folder_.string() + "/ABOUT.MID", "play wait",
                                           "close"};
    EXPECT_EQ(fake::SequencerCalls(), tune);

    // OK closes the window; its "close video9" names no open device and changes nothing.
    fake::Click(frmAbout, "Command1");
    EXPECT_FALSE(platform::IsLoaded(frmAbout));
    EXPECT_EQ(fake::SequencerCalls(), tune);
    EXPECT_TRUE(fake::IsVisible(frmSetting));
    EXPECT_FALSE(fake::Ended());

    // Loaded afresh, it plays the tune again.
    fake::SequencerCalls().clear();
    fake::Click(frmSetting, "cmdAbout");
    EXPECT_EQ(fake::SequencerCalls(), tune);
}

// SendMciCommand gives the reply on success and MCI's error text, never an empty text, when the
// command fails.
TEST_F(WindowsTest, SendMciCommandReturnsTheReplyOrTheErrorText) {
    const std::string folder_with_blank = (folder_ / "Program Files").string();
    std::filesystem::create_directory(folder_with_blank);
    std::ofstream(folder_with_blank + "/ABOUT.MID") << "MThd";
    EXPECT_EQ(Module1::SendMciCommand("open \"" + folder_with_blank +
                                      "/ABOUT.MID\" type sequencer alias about"),
              "1");
    EXPECT_EQ(Module1::SendMciCommand("close about"), "");
    const std::string error = Module1::SendMciCommand("close video9");
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\0'), std::string::npos);
}
