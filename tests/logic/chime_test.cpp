#include "app/frmMain.h"
#include "chime/Timer1.h"
#include "program_folder.h"
#include "shared/Module1.h"

using ChimeTest = ProgramFolderTest;

namespace {

std::vector<std::string> SoundNames() {
    std::vector<std::string> names;
    for (const fake::Sound& sound : fake::Sounds()) {
        names.push_back(sound.path.substr(sound.path.rfind('/') + 1));
    }
    return names;
}

} // namespace

TEST_F(ChimeTest, HourSoundFollowsTheTwelveHourDial) {
    const std::pair<int, const char*> table[] = {{0, "00.WAV"},  {1, "01.WAV"},  {11, "11.WAV"},
                                                 {12, "00.WAV"}, {13, "01.WAV"}, {23, "11.WAV"}};
    for (const auto& [hour, name] : table) {
        EXPECT_EQ(HourSoundPath(hour), folder_.string() + "/" + name) << hour;
    }
    fake::Reset("/");
    EXPECT_EQ(HourSoundPath(15), "//03.WAV");
}

TEST_F(ChimeTest, ChimesOnceAtSecondZeroAndAgainAtSecondEight) {
    fake::SetClock(14, 59, 58);
    fake::Start(frmMain);
    fake::Advance(3 * 60 * 1000);

    ASSERT_EQ(SoundNames(), (std::vector<std::string>{"03.WAV", "03.WAV"}));
    const auto& sounds = fake::Sounds();
    EXPECT_EQ(sounds[0].at.second, 0);
    EXPECT_EQ(sounds[1].at.second, 8);
    // Ticks lie on the wall-clock grid, so the sound starts within milliseconds of the second.
    EXPECT_LE(sounds[0].millisecond, 5);
    EXPECT_LE(sounds[1].millisecond, 5);
    EXPECT_EQ(sounds[0].flags, platform::SND_FILENAME | platform::SND_ASYNC);
    EXPECT_FALSE(fake::Ended());
}

TEST_F(ChimeTest, EveryHourOfTheDayChimesItsOwnSound) {
    fake::Start(frmMain);
    for (int hour = 0; hour < 24; ++hour) {
        fake::SetClock((hour + 23) % 24, 59, 59);
        fake::Advance(11000);
    }
    const auto names = SoundNames();
    ASSERT_EQ(names.size(), 48u);
    for (int hour = 0; hour < 24; ++hour) {
        EXPECT_EQ(names[2 * hour], HourSoundPath(hour).substr(folder_.string().size() + 1));
    }
}

TEST_F(ChimeTest, MissedSecondOneKeepsTheLatchUntilSecondNine) {
    fake::SetClock(14, 59, 59, 500);
    fake::Start(frmMain);
    fake::Advance(1000); // 15:00:00.5, the sound has started
    fake::Block(1600);   // busy through second 1
    fake::Advance(20000);
    EXPECT_EQ(fake::Sounds().size(), 1u);
}

TEST_F(ChimeTest, HourPassesSilentlyWhileTheThreadIsBusy) {
    fake::SetClock(14, 59, 59, 900);
    fake::Start(frmMain);
    fake::Block(9200);
    fake::Advance(60000);
    EXPECT_TRUE(fake::Sounds().empty());
}

TEST_F(ChimeTest, OnlyTheStartOfTheHourChimes) {
    fake::SetClock(15, 30, 0);
    fake::Start(frmMain);
    fake::Advance(1000);
    fake::SetClock(15, 0, 5);
    fake::Advance(1000);
    fake::SetClock(15, 59, 0);
    fake::Advance(50000);
    EXPECT_TRUE(fake::Sounds().empty());
}

// Read field by field, a tick just before hh:01:00 would see minute 0 and then second 0.
TEST_F(ChimeTest, TickStraddlingTheMinuteDoesNotChime) {
    fake::Start(frmMain);
    fake::SetClock(15, 0, 59, 999);
    fake::AdvanceClockOnRead(1);
    Timer1_Timer();
    EXPECT_TRUE(fake::Sounds().empty());
}

TEST_F(ChimeTest, QuitRequestEndsTheCopyBeforeItChimes) {
    fake::SetClock(14, 59, 59, 100);
    fake::Start(frmMain);
    platform::WritePrivateProfileStringA("Form", "Quit", "1", Ini().c_str());
    fake::Advance(10000);
    EXPECT_TRUE(fake::Ended());
    EXPECT_TRUE(fake::Sounds().empty());
}

TEST_F(ChimeTest, OnlyANumberEqualToOneIsAQuitRequest) {
    const std::pair<const char*, bool> table[] = {
        {"1", true},    {"01", true},   {"1.0", true},  {"1e0", true},  {" 1 ", true},
        {"+1", true},   {"1.5", false}, {"0", false},   {"-1", false},  {"yes", false},
        {"1x", false},  {"", false},    {"inf", false}, {"nan", false}, {"0x1", false},
        {"1 1", false}, {".", false},   {"e1", false},
    };
    for (const auto& [value, quits] : table) {
        fake::Reset(folder_.string());
        fake::SetClock(10, 20, 0);
        fake::Start(frmMain);
        WriteIni(std::string("[Form]\r\nQuit=") + value + "\r\n");
        fake::Advance(1000);
        EXPECT_EQ(fake::Ended(), quits) << '"' << value << '"';
    }
}

// Only the first 15 bytes of the value arrive, so the text after them does not count.
TEST_F(ChimeTest, QuitValueIsCutToFifteenBytes) {
    fake::SetClock(10, 20, 0);
    fake::Start(frmMain);
    WriteIni("[Form]\r\nQuit=1" + std::string(15, ' ') + "x\r\n");
    fake::Advance(1000);
    EXPECT_TRUE(fake::Ended());
}
