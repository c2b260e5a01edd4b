#include "app/frmMain.h"
#include "forms/frmSetting.h"
#include "program_folder.h"

#include <cerrno>
#include <cstring>

using StartupTest = ProgramFolderTest;

// The hidden host window's two buttons. The test button shows the request and ends the program
// only on 0; the quit button writes the request, which this copy obeys at its next tick, and
// says so, as the control window's does, when the request cannot be written.
TEST_F(StartupTest, QuitButtonsActOnTheQuitRequestOrSayWhyTheyCannot) {
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

    // A copy that goes on in the resident after its windows closed keeps a request written
    // since, and shows no control window again.
    Restart(true, true);
    fake::Start(frmMain);
    EXPECT_FALSE(fake::IsVisible(frmSetting));
    fake::Advance(800);
    EXPECT_TRUE(fake::Ended());

    // A folder where the settings file should be makes every write fail, even for root. Either
    // quit button says so with this write's own reason, not one an earlier call left behind.
    for (const bool control_window : {false, true}) {
        Restart(control_window);
        fake::Start(frmMain);
        std::filesystem::remove(Ini());
        std::filesystem::create_directory(Ini());
        errno = ENOENT;
        fake::Click(control_window ? frmSetting : frmMain, control_window ? "cmdQuit" : "Command2");
        ASSERT_EQ(fake::MessageBoxes().size(), 1u);
        const std::string& message = fake::MessageBoxes()[0];
        EXPECT_NE(message.find(Ini()), std::string::npos);
        EXPECT_NE(message.find("could not be stopped"), std::string::npos);
        EXPECT_NE(message.find(std::strerror(EISDIR)), std::string::npos) << message;
    }
}
