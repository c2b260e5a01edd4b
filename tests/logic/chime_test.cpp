#include "app/frmMain.h"
#include "chime/Timer1.h"
#include "chime/chime_settings.h"
#include "platform/core/tick_grid.h"
#include "program_folder.h"
#include "shared/program_file.h"

#include <algorithm>
#include <cstdio>

using ChimeTest = ProgramFolderTest;

// A day under each [Chime] section: the hours heard ('x': the hour's sound on the 12-hour dial
// at seconds 0 and 8; '.': silent, from 0 o'clock) and their volume. Ticks lie on the wall-clock
// grid, so each sound starts within milliseconds of its second. A value that cannot be read
// gets its key's default, and the quit request is obeyed whatever the section holds.
TEST_F(ChimeTest, EachHourChimesTwiceUnlessTheChimeSettingsSilenceIt) {
    const std::string all(24, 'x');
    const struct {
        std::string chime;
        bool busy;
        std::string heard;
        int volume;
    } table[] = {
        {"", true, all, 100},
        {"Quiet=22-7", false, ".......xxxxxxxxxxxxxxx..", 100},
        {"Quiet=0-6, 12 ,22-23\r\nVolume=40", false, "......xxxxxx.xxxxxxxxx.x", 40},
        {"Quiet=5-5", false, std::string(24, '.'), 100},
        {"Busy=1\r\nVolume=0", false, all, 0},
        {"Busy=1", true, std::string(24, '.'), 100},
        {"Busy=0\r\nVolume= 100 ", true, all, 100},
        {"Quiet=banana\r\nBusy=yes\r\nVolume=300", true, all, 100},
        {"Quiet=25\r\nVolume=-1", false, all, 100},
        {"Quiet=24", false, all, 100},
        {"Quiet=0,23-24", false, all, 100},
        {"Quiet=0,23", false, "." + std::string(22, 'x') + ".", 100},
        {"Quiet=3-\r\nVolume=40.5", false, all, 100},
        {"Quiet=1,,2\r\nVolume=banana", false, all, 100},
        // Only the first 255 bytes would arrive, and they hold the valid "3".
        {"Quiet=3" + std::string(300, ' ') + "x", false, all, 100},
    };
    for (const auto& [chime, busy, heard, volume] : table) {
        SCOPED_TRACE(chime);
        Restart();
        WriteIni("0", chime);
        fake::SetUserBusy(busy);
        fake::Start(frmMain);
        for (int hour = 0; hour < 24; ++hour) {
            fake::SetClock((hour + 23) % 24, 59, 59);
            fake::Advance(11000);
        }
        std::string got(24, '.');
        const std::vector<fake::Sound>& sounds = fake::Sounds();
        for (std::size_t i = 0; i < sounds.size(); ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "%02d.WAV", sounds[i].at.hour % 12);
            EXPECT_EQ(sounds[i].path, folder_.string() + "/" + name);
            EXPECT_EQ(sounds[i].at.second, i % 2 == 0 ? 0 : 8);
            EXPECT_LE(sounds[i].millisecond, 5);
            EXPECT_EQ(sounds[i].flags, platform::SND_FILENAME | platform::SND_ASYNC);
            EXPECT_EQ(sounds[i].volume, volume);
            got[static_cast<std::size_t>(sounds[i].at.hour)] = 'x';
        }
        EXPECT_EQ(got, heard);
        EXPECT_EQ(sounds.size(), 2 * static_cast<std::size_t>(std::ranges::count(heard, 'x')));
        WriteIni("1", chime);
        fake::Advance(800);
        EXPECT_TRUE(fake::Ended());
    }
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

    // The sound is made ready on every tick from eight seconds before the hour through its
    // second chime, so that the sound helper's output is open when the hour comes.
    Restart();
    fake::SetClock(14, 59, 40);
    fake::Start(frmMain);
    fake::Advance(40000);
    const std::vector<int>& ready = fake::SoundPreparations();
    ASSERT_FALSE(ready.empty());
    EXPECT_EQ(ready.front() / 1000, (14 * 60 + 59) * 60 + 52);
    EXPECT_EQ(ready.back() / 1000, 15 * 3600 + 8);
    EXPECT_EQ(ready.size(), 22u);
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

// The first chime of an hour decides for both: the desktop is asked once, and a busy spell that
// begins or ends between hh:00:00 and hh:00:08 changes nothing. Without a tick at hh:00:00,
// hh:00:08 decides. An edit of the section counts from the next hour.
TEST_F(ChimeTest, AnHourIsHeardOrSkippedWhole) {
    WriteIni("0", "Busy=1");
    fake::Start(frmMain);
    const std::pair<bool, bool> busy_at_0_and_4[] = {{true, false}, {false, true}};
    for (const auto& [at_0, at_4] : busy_at_0_and_4) {
        fake::SetUserBusy(at_0);
        fake::SetClock(14, 59, 59);
        fake::Advance(5000);
        fake::SetUserBusy(at_4);
        fake::Advance(6000);
        EXPECT_EQ(fake::Sounds().size(), at_0 ? 0u : 2u);
    }
    for (int hour : {16, 17}) {
        fake::SetUserBusy(hour == 16);
        fake::SetClock(hour - 1, 59, 59, 900);
        fake::Block(1200);
        fake::Advance(9000);
        EXPECT_EQ(fake::Sounds().size(), hour == 16 ? 2u : 3u);
    }
    EXPECT_EQ(fake::BusyQuestions(), 4);
    WriteIni("0", "Quiet=18");
    fake::SetClock(17, 59, 59);
    fake::Advance(11000);
    EXPECT_EQ(fake::Sounds().size(), 3u);
}

// Quarters=1 chimes once at 15, 30 and 45 minutes past with that quarter's own file, =30 at the
// half hour alone, and anything else never; Quiet, Busy and Volume hold for quarters as for the
// hour. The sound is made ready from a few seconds before each quarter that chimes, and before
// no other. An edit of the key counts from the next quarter.
TEST_F(ChimeTest, QuartersChimeOnceEachWhenAskedFor) {
    const struct {
        std::string chime;
        std::vector<int> minutes;
        int volume;
    } table[] = {
        {"", {}, 100},
        {"Quarters=0", {}, 100},
        {"Quarters=banana", {}, 100},
        {"Quarters=15", {}, 100},
        {"Quarters= 1 \r\nVolume=30", {15, 30, 45}, 30},
        {"Quarters=30", {30}, 100},
        {"Quarters=1\r\nQuiet=14", {}, 100},
        {"Quarters=1\r\nBusy=1", {}, 100},
    };
    for (const auto& [chime, minutes, volume] : table) {
        SCOPED_TRACE(chime);
        Restart();
        WriteIni("0", chime);
        fake::SetUserBusy(true);
        fake::SetClock(14, 0, 30);
        fake::Start(frmMain);
        fake::Advance(59 * 60 * 1000);
        std::vector<int> heard;
        for (const fake::Sound& sound : fake::Sounds()) {
            EXPECT_EQ(sound.at.second, 0);
            EXPECT_EQ(sound.volume, volume);
            EXPECT_EQ(sound.path, QuarterSoundPath(sound.at.minute));
            heard.push_back(sound.at.minute);
        }
        EXPECT_EQ(heard, minutes);
        std::vector<int> prepared;
        for (int ms : fake::SoundPreparations()) {
            const int minute = (ms / 60000 + 1) % 60 / 15 * 15;
            if (prepared.empty() || prepared.back() != minute) {
                prepared.push_back(minute);
            }
            EXPECT_TRUE(ms % 60000 >= 52000 || ms % 60000 < 1000) << ms;
        }
        // The sound is made ready before every quarter that may chime: Quiet and Busy are
        // known only at the quarter.
        const bool skipped =
            chime.find("Quiet") != std::string::npos || chime.find("Busy") != std::string::npos;
        const std::vector<int> every{15, 30, 45};
        EXPECT_EQ(prepared, skipped ? every : minutes);
    }
    EXPECT_EQ(QuarterSoundPath(45), folder_.string() + "/QUARTER3.WAV");
}

// The hour is said once, after its second chime, in the user's language or the one Speak names;
// never at a quarter, nor in an hour that Quiet or Busy skip. The words are those people say.
TEST_F(ChimeTest, TheHourIsSpokenAfterItsLastChimeWhenAskedFor) {
    const struct {
        std::string chime;
        bool japanese;
        std::string language;
    } table[] = {
        {"Speak=1\r\nQuarters=1\r\nVolume=70", false, "en"},
        {"Speak=1", true, "ja"},
        {"Speak= JA ", false, "ja"},
        {"Speak=en", true, "en"},
        {"Speak=0", true, ""},
        {"Speak=yes", true, ""},
        {"Speak=1\r\nQuiet=15", false, ""},
    };
    for (const auto& [chime, japanese, language] : table) {
        SCOPED_TRACE(chime);
        Restart();
        WriteIni("0", chime);
        fake::SetUserJapanese(japanese);
        fake::SetClock(14, 59, 50);
        fake::Start(frmMain);
        fake::Advance(16 * 60 * 1000);
        if (language.empty()) {
            EXPECT_TRUE(fake::Speeches().empty());
            continue;
        }
        ASSERT_EQ(fake::Speeches().size(), 1u);
        const fake::Speech& speech = fake::Speeches()[0];
        EXPECT_EQ(speech.at.minute * 60 + speech.at.second, 8);
        EXPECT_EQ(speech.language, language);
        EXPECT_EQ(speech.words, SpokenHour(15, language));
        EXPECT_EQ(speech.volume, fake::Sounds()[1].volume);
    }
    const std::pair<int, std::string> words[] = {
        {0, "It's midnight"},        {12, "It's twelve noon"},       {13, "It's one o'clock"},
        {23, "It's eleven o'clock"}, {0, "ごぜん れいじ です"},      {12, "ごご れいじ です"},
        {13, "ごご いちじ です"},    {23, "ごご じゅういちじ です"},
    };
    for (const auto& [hour, said] : words) {
        EXPECT_EQ(SpokenHour(hour, said.starts_with("It") ? "en" : "ja"), said);
    }
}

// Every backend's timer waits for this grid point: the first multiple of its interval past now,
// plus the lag of a timer that waits in whole milliseconds or none, for any interval a layout
// can give and on both sides of the epoch.
TEST(TickGrid, TheNextTickIsTheNextMultipleOfTheIntervalAfterNowPlusTheLag) {
    using platform::core::kTickLagMs;
    using platform::core::NextTickMs;
    for (const std::int64_t lag : {std::int64_t{0}, kTickLagMs}) {
        for (const std::int64_t interval : {1, 7, 800, 1000, 65535, 2147483647}) {
            for (const std::int64_t now :
                 {std::int64_t{-86'400'000'003}, std::int64_t{-801}, std::int64_t{-1},
                  std::int64_t{0}, kTickLagMs, kTickLagMs + 1, std::int64_t{1'796'000'000'003}}) {
                const std::int64_t next = NextTickMs(now, interval, lag);
                EXPECT_GT(next, now) << interval << " " << now;
                EXPECT_LE(next - now, interval) << interval << " " << now;
                EXPECT_EQ(((next - lag) % interval + interval) % interval, 0)
                    << lag << " " << interval << " " << now;
            }
        }
    }
    // A wake-up a little early waits; one far early means the clock went back, and ticks.
    EXPECT_FALSE(platform::core::TickIsDue(1000, 1005));
    EXPECT_TRUE(platform::core::TickIsDue(1000, 1000));
    EXPECT_TRUE(platform::core::TickIsDue(1000, 1800));
}
