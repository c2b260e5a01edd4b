#include "app/frmMain.h"
#include "program_folder.h"

using StartupTest = ProgramFolderTest;

// The hidden host window's two buttons. The test button shows the request and ends the program
// only on 0; the quit button writes the request, which this copy obeys at its next tick, and
// says so when the request cannot be written.
TEST_F(StartupTest, HostWindowButtonsActOnTheQuitRequest) {
    for (const char* value : {"0", "1", "yes"}) {
        Restart();
        fake::Start(frmMain);
        WriteIni(value);
        fake::Click(frmMain, "Command1");
        EXPECT_EQ(fake::MessageBoxes(), std::vector<std::string>{value});
        EXPECT_EQ(fake::Ended(), std::string(value) == "0") << value;
    }

    Restart();
    fake::SetClock(9, 15, 0);
    fake::Start(frmMain);
    fake::Click(frmMain, "Command2");
    std::ifstream ini(Ini(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(ini), {}), "[Form]\r\nQuit=1\r\n");
    EXPECT_FALSE(fake::Ended());
    fake::Advance(800);
    EXPECT_TRUE(fake::Ended());

    Restart();
    fake::Start(frmMain);
    // A folder where the settings file should be makes every write fail, even for root.
    std::filesystem::remove(Ini());
    std::filesystem::create_directory(Ini());
    fake::Click(frmMain, "Command2");
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    EXPECT_NE(fake::MessageBoxes()[0].find(Ini()), std::string::npos);
    EXPECT_NE(fake::MessageBoxes()[0].find("could not be stopped"), std::string::npos);
}
