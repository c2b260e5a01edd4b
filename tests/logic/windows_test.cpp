#include "app/frmMain.h"
#include "forms/frmAbout.h"
#include "forms/frmSetting.h"
#include "platform/fake/fake_sequencer.h"
#include "program_folder.h"

// A second copy, started a second before the hour with a stale quit request in the file.
class WindowsTest : public ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        Restart(/*another_copy_running=*/true);
        fake::SequencerCalls().clear();
        std::ofstream(folder_ / "ABOUT.MID") << "MThd";
        fake::SetScreen(1280 * 15, 1024 * 15);
        fake::SetClock(14, 59, 59);
        WriteIni("1");
        fake::Start(frmMain);
    }
};

// That the second copy clears the request and shows only the control window is seen end to end.
TEST_F(WindowsTest, SecondCopyChimesOnWhenItsControlWindowIsClosed) {
    ASSERT_TRUE(fake::IsVisible(frmSetting));
    platform::Unload(frmSetting);
    fake::Advance(2000);
    EXPECT_FALSE(fake::Ended());
    EXPECT_EQ(fake::Sounds().size(), 1u);
}

// Alarm Quit writes the request for every running copy, once per folder, and names each file
// it cannot write (a folder in its place).
TEST_F(WindowsTest, AlarmQuitReachesCopiesFromEveryFolder) {
    std::filesystem::create_directories(folder_ / "blocked" / "Velmorin.ini");
    std::filesystem::create_directory(folder_ / "other");
    fake::SetRunningCopies({(folder_ / "other").string(), folder_.string(),
                            (folder_ / "blocked").string(), (folder_ / "blocked").string()});
    fake::Click(frmSetting, "cmdQuit");
    EXPECT_TRUE(fake::Ended());
    for (const auto& ini : {folder_ / "Velmorin.ini", folder_ / "other" / "Velmorin.ini"}) {
        std::ifstream file(ini, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "[Form]\r\nQuit=1\r\n");
    }
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    EXPECT_NE(fake::MessageBoxes()[0].find((folder_ / "blocked" / "Velmorin.ini").string()),
              std::string::npos);
}

// Centred by its outer size, frame included (without a window manager the end-to-end tests
// see no frame); a screen smaller than the window gives a negative, unrounded position.
TEST_F(WindowsTest, ControlWindowIsCentredByItsOuterSize) {
    EXPECT_FLOAT_EQ(fake::Position(frmSetting).left,
                    (1280 * 15 - (3795 + fake::kFrameWidth)) / 2.0f);
    EXPECT_FLOAT_EQ(fake::Position(frmSetting).top,
                    (1024 * 15 - (3720 + fake::kFrameHeight)) / 2.0f);
    platform::Unload(frmSetting);
    fake::SetScreen(3001, 3001);
    platform::Show(frmSetting);
    EXPECT_FLOAT_EQ(fake::Position(frmSetting).left, (3001 - (3795 + fake::kFrameWidth)) / 2.0f);
    EXPECT_LT(fake::Position(frmSetting).top, 0);
}

TEST_F(WindowsTest, AboutPaintsThenPlaysTheTuneAndOkClosesIt) {
    fake::Click(frmSetting, "cmdAbout");
    ASSERT_TRUE(fake::IsVisible(frmAbout));
    EXPECT_FALSE(fake::ControlText(frmAbout, "Label1").empty());
    // Painted before the tune: the Qt build paints the window even without this event pass, so
    // no end-to-end test sees it missing. The whole tune and where it shows are checked there.
    EXPECT_EQ(fake::EventPasses(), 1);
    const std::vector<std::string> tune = {"open " + folder_.string() + "/ABOUT.MID", "play wait",
                                           "close"};
    EXPECT_EQ(fake::SequencerCalls(), tune);

    // OK closes the window; its "close video9" names no open device and changes nothing.
    fake::Click(frmAbout, "Command1");
    EXPECT_FALSE(fake::IsVisible(frmAbout));
    EXPECT_TRUE(fake::IsVisible(frmSetting));
    EXPECT_EQ(fake::SequencerCalls(), tune);
    EXPECT_FALSE(fake::Ended());

    // SendMciCommand gives the reply on success and MCI's error text, never an empty text, on
    // failure.
    EXPECT_EQ(Module1::SendMciCommand("open \"" + folder_.string() +
                                      "/ABOUT.MID\" type sequencer alias about"),
              "1");
    const std::string error = Module1::SendMciCommand("close video9");
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\0'), std::string::npos);
}
