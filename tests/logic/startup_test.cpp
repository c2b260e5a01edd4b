#include "app/frmMain.h"
#include "program_folder.h"
#include "windows/frmSetting.h"

#include <sys/stat.h>

using StartupTest = ProgramFolderTest;

TEST_F(StartupTest, FirstCopyWritesTheSettingsFileAndShowsNothing) {
    fake::SetClock(9, 15, 0);
    fake::Start(frmMain);
    EXPECT_EQ(IniText(), "[Form]\r\nQuit=0\r\n");
    EXPECT_FALSE(fake::IsVisible(frmMain));
    EXPECT_FALSE(platform::IsLoaded(frmSetting));
}

TEST_F(StartupTest, StaleQuitRequestIsClearedBeforeTheFirstTick) {
    WriteIni("[Form]\r\nQuit=1\r\n");
    fake::SetClock(9, 15, 0);
    fake::Start(frmMain);
    EXPECT_EQ(IniText(), "[Form]\r\nQuit=0\r\n");
    fake::Advance(5000);
    EXPECT_FALSE(fake::Ended());
}

TEST_F(StartupTest, SecondCopyShowsTheControlWindowAndKeepsChiming) {
    fake::Reset(folder_.string(), /*another_copy_running=*/true);
    WriteIni("[Form]\r\nQuit=1\r\n");
    fake::SetClock(14, 59, 59);
    fake::Start(frmMain);
    EXPECT_EQ(IniText(), "[Form]\r\nQuit=0\r\n");
    EXPECT_TRUE(fake::IsVisible(frmSetting));
    EXPECT_FALSE(fake::IsVisible(frmMain));

    // Dismissed without its quit button, the copy runs on hidden.
    platform::Unload(frmSetting);
    fake::Advance(2000);
    EXPECT_FALSE(fake::Ended());
    EXPECT_EQ(fake::Sounds().size(), 1u);
}

TEST_F(StartupTest, TestButtonShowsTheRequestAndEndsOnlyOnZero) {
    fake::Start(frmMain);
    fake::Click(frmMain, "Command1");
    EXPECT_EQ(fake::MessageBoxes(), std::vector<std::string>{"0"});
    EXPECT_TRUE(fake::Ended());

    for (const char* value : {"1", "yes"}) {
        fake::Reset(folder_.string());
        fake::Start(frmMain);
        WriteIni(std::string("[Form]\r\nQuit=") + value + "\r\n");
        fake::Click(frmMain, "Command1");
        EXPECT_EQ(fake::MessageBoxes(), std::vector<std::string>{value});
        EXPECT_FALSE(fake::Ended()) << value;
    }
}

TEST_F(StartupTest, QuitButtonStopsThisCopyAtItsNextTick) {
    fake::SetClock(9, 15, 0);
    fake::Start(frmMain);
    fake::Click(frmMain, "Command2");
    EXPECT_EQ(IniText(), "[Form]\r\nQuit=1\r\n");
    EXPECT_FALSE(fake::Ended());
    fake::Advance(800);
    EXPECT_TRUE(fake::Ended());
}

TEST_F(StartupTest, QuitButtonReportsARequestThatCannotBeWritten) {
    fake::Start(frmMain);
    // A folder where the settings file should be makes every write fail, even for root.
    std::filesystem::remove(Ini());
    std::filesystem::create_directory(Ini());
    fake::Click(frmMain, "Command2");
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    EXPECT_NE(fake::MessageBoxes()[0].find(Ini()), std::string::npos);
    EXPECT_NE(fake::MessageBoxes()[0].find("could not be stopped"), std::string::npos);
}
