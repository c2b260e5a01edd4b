#include "app/frmMain.h"
#include "chime/Timer1.h"
#include "platform/core/tick_grid.h"
#include "program_folder.h"

#include <cstdio>

using ChimeTest = ProgramFolderTest;

// Ticks lie on the wall-clock grid, so each sound starts within milliseconds of its second.
TEST_F(ChimeTest, EveryHourChimesItsSoundOnTheTwelveHourDialAtSecondsZeroAndEight) {
    fake::Start(frmMain);
    for (int hour = 0; hour < 24; ++hour) {
        fake::SetClock((hour + 23) % 24, 59, 59);
        fake::Advance(11000);
    }
    const std::vector<fake::Sound>& sounds = fake::Sounds();
    ASSERT_EQ(sounds.size(), 48u);
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "%02zu.WAV", i / 2 % 12);
        EXPECT_EQ(sounds[i].path, folder_.string() + "/" + name) << i;
        EXPECT_EQ(sounds[i].at.second, i % 2 == 0 ? 0 : 8) << i;
        EXPECT_LE(sounds[i].millisecond, 5) << i;
        EXPECT_EQ(sounds[i].flags, platform::SND_FILENAME | platform::SND_ASYNC) << i;
    }
    EXPECT_FALSE(fake::Ended());
    // A program folder at the root gives a doubled separator, which the system accepts.
    fake::Reset("/");
    EXPECT_EQ(HourSoundPath(15), "//03.WAV");
}

TEST_F(ChimeTest, TheLatchAndTheHourTestAtTheirEdges) {
    // A missed second 1 keeps the latch until second 9: the hour chimes once, not again at 8.
    fake::SetClock(14, 59, 59, 500);
    fake::Start(frmMain);
    fake::Advance(1000);
    fake::Block(1600);
    fake::Advance(20000);
    EXPECT_EQ(fake::Sounds().size(), 1u);

    // A thread busy through the whole first ten seconds lets the hour pass silently.
    Restart();
    fake::SetClock(14, 59, 59, 900);
    fake::Start(frmMain);
    fake::Block(9200);
    fake::Advance(60000);
    EXPECT_TRUE(fake::Sounds().empty());

    // Minute 0 alone, or second 0 alone, is not the start of the hour.
    Restart();
    fake::SetClock(15, 0, 5);
    fake::Start(frmMain);
    fake::Advance(1000);
    fake::SetClock(15, 59, 0);
    fake::Advance(50000);
    EXPECT_TRUE(fake::Sounds().empty());

    // Read field by field, a tick just before hh:01:00 would see minute 0 and then second 0.
    fake::SetClock(15, 0, 59, 999);
    fake::AdvanceClockOnRead(1);
    Timer1_Timer();
    EXPECT_TRUE(fake::Sounds().empty());
}

// Only the first 15 bytes of the value are read. The request is read before the hour is
// tested, so a copy asked to quit on the tick that starts the hour ends silently.
TEST_F(ChimeTest, OnlyANumberEqualToOneIsAQuitRequest) {
    const std::string cut = "1" + std::string(15, ' ') + "x";
    const std::pair<std::string, bool> table[] = {
        {"1", true},    {"01", true},   {"1.0", true},  {"1e0", true},  {" 1 ", true},
        {"+1", true},   {cut, true},    {"1.5", false}, {"0", false},   {"-1", false},
        {"yes", false}, {"1x", false},  {"", false},    {"inf", false}, {"nan", false},
        {"0x1", false}, {"1 1", false}, {".", false},   {"e1", false},
    };
    for (const auto& [value, quits] : table) {
        Restart();
        fake::SetClock(14, 59, 59, 900);
        fake::Start(frmMain);
        WriteIni(value);
        fake::Advance(2000);
        EXPECT_EQ(fake::Ended(), quits) << '"' << value << '"';
        EXPECT_EQ(fake::Sounds().size(), quits ? 0u : 1u) << '"' << value << '"';
    }
}

// Every backend's timer waits for this grid point: the first multiple of its interval past now,
// plus the lag, for any interval a layout can give and on both sides of the epoch.
TEST(TickGrid, TheNextTickIsTheNextMultipleOfTheIntervalAfterNowPlusTheLag) {
    using platform::core::kTickLagMs;
    using platform::core::NextTickMs;
    for (const std::int64_t interval : {1, 7, 800, 1000, 65535, 2147483647}) {
        for (const std::int64_t now :
             {std::int64_t{-86'400'000'003}, std::int64_t{-801}, std::int64_t{-1}, std::int64_t{0},
              kTickLagMs, kTickLagMs + 1, std::int64_t{1'796'000'000'003}}) {
            const std::int64_t next = NextTickMs(now, interval);
            EXPECT_GT(next, now) << interval << " " << now;
            EXPECT_LE(next - now, interval) << interval << " " << now;
            EXPECT_EQ(((next - kTickLagMs) % interval + interval) % interval, 0)
                << interval << " " << now;
        }
    }
    // A wake-up a little early waits; one far early means the clock went back, and ticks.
    EXPECT_FALSE(platform::core::TickIsDue(1000, 1005));
    EXPECT_TRUE(platform::core::TickIsDue(1000, 1000));
    EXPECT_TRUE(platform::core::TickIsDue(1000, 1800));
}
