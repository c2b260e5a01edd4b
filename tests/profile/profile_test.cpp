// What the program and its users expect of the profile functions, written against the platform
// interface and the standard library only, so that the same source judges the Linux stand-ins
// and, built for Windows, the real Windows functions.

#include "profile_fixture.h"

namespace {

// Where there is no settings file to be had, a read gives the default and creates nothing, and
// a write is refused with a reason of its own rather than one left by an earlier failure.
TEST_F(Profile, WithoutAFileReadsGiveTheDefaultAndWritesTheirOwnReason) {
    const std::string in_missing_folder = (folder_ / "missing" / "Velmorin.ini").string();
    EXPECT_EQ(Get(ini_), "0");
    EXPECT_EQ(Get(in_missing_folder), "0");
    EXPECT_EQ(Get(folder_.string()), "0") << "a folder reads like a missing file";
    EXPECT_EQ(Files(), 0) << "reading created a file";
    EXPECT_FALSE(Set(in_missing_folder, "1"));
    const std::string missing_folder = platform::LastErrorText();
    EXPECT_FALSE(missing_folder.empty());
    EXPECT_FALSE(Set(folder_.string(), "1")) << "the path is a folder";
    EXPECT_NE(platform::LastErrorText(), missing_folder) << "a stale reason";
}

struct FileCase {
    const char* label;
    std::string bytes;
    std::string quit; // what the program reads for Quit
};

class ProfileFiles : public Profile, public testing::WithParamInterface<FileCase> {};

// The files a user may leave in the program folder: written by this program, by hand, or by a
// Windows editor. Quit is read only in its own section; a key before any section is in none.
INSTANTIATE_TEST_SUITE_P(
    Users, ProfileFiles,
    testing::Values(
        FileCase{"crlf", "[Form]\r\nQuit=1\r\n", "1"}, FileCase{"lf", "[Form]\nQuit=1\n", "1"},
        FileCase{"lone_cr", "[Other]\rQuit=0\r[Form]\rQuit=1\r", "1"},
        FileCase{"mixed_line_ends", "[Other]\r\nX=1\n[Form]\rQuit=1\r\n", "1"},
        FileCase{"no_last_line_end", "[Form]\r\nQuit=1", "1"},
        FileCase{"utf8_bom", "\xEF\xBB\xBF[Form]\r\nQuit=1\r\n", "1"},
        FileCase{"utf16le_bom", Utf16("[Form]\r\nQuit=1\r\n"), "1"},
        FileCase{"utf16le_bom_lone_cr", Utf16("[Other]\rA=0\r[Form]\rQuit=1\r"), "1"},
        FileCase{"utf16be_bom", Utf16("[Other]\r\nA=0\r\n[Form]\r\nQuit=1\r\n", true), "1"},
        FileCase{"names_in_any_case_and_blanks", "; by hand\n\n  [fORM]  \n  QUIT =  1  \n", "1"},
        FileCase{"first_section_and_key_count",
                 "[Other]\r\nQuit=0\r\n[FORM]\r\nquit=1\r\nQuit=0\r\n[Form]\r\nQuit=0\r\n", "1"},
        FileCase{"quotes_dropped", "[Form]\r\nQuit=\"1\"\r\n", "1"},
        FileCase{"empty_value_is_not_the_default", "[Form]\r\nQuit=\r\n", ""},
        FileCase{"other_section_only", "[Other]\r\nQuit=1\r\n", "0"},
        FileCase{"key_in_another_section", "[Form]\r\nLeave=1\r\n[Other]\r\nQuit=1\r\n", "0"},
        FileCase{"key_before_any_section", "Quit=1\r\n[Form]\r\n", "0"},
        FileCase{"fifteen_bytes_kept", "[Form]\r\nQuit=1               x\r\n", "1              "},
        // U+6642 would end at byte 16: it is left out whole, never cut in half.
        FileCase{"no_character_cut",
                 Utf16("[Form]\r\nQuit=1234567890123") + std::string("\x42\x66", 2),
                 "1234567890123"}),
    [](const testing::TestParamInfo<FileCase>& info) { return info.param.label; });

TEST_P(ProfileFiles, ReadAsWindowsReadsThem) {
    Put(ini_, GetParam().bytes);
    EXPECT_EQ(Get(ini_), GetParam().quit);
}

// A write changes the value and nothing else a reader can see: the other keys and the encoding.
// How the lines end afterwards is the Linux build's own promise (Windows rewrites them as CRLF).
TEST_P(ProfileFiles, WriteKeepsTheEncodingAndEveryOtherValue) {
    const std::string& before = GetParam().bytes;
    const std::string mark = before.substr(0, 2);
    const bool big_endian = mark == "\xFE\xFF";
    const bool utf16 = big_endian || mark == "\xFF\xFE";
    const std::string kept = "\r\n[Keep]\r\nA=x\r\n";
    Put(ini_, before + (utf16 ? Utf16(kept, big_endian).substr(2) : kept));
    ASSERT_TRUE(Set(ini_, "0"));
    EXPECT_EQ(Get(ini_, "Keep", "A"), "x");
    ASSERT_TRUE(Set(ini_, "1", "Keep", "B"));
    EXPECT_EQ(Get(ini_, "Keep", "B"), "1");
    EXPECT_EQ(Get(ini_), "0");

    const std::string after = Contents(ini_);
    EXPECT_TRUE(!utf16 || after.starts_with(mark));
    EXPECT_EQ(after.starts_with("\xEF\xBB\xBF"), before.starts_with("\xEF\xBB\xBF"));
    EXPECT_EQ(after.find("A=x") == std::string::npos, utf16) << "the encoding changed";
}

TEST_F(Profile, FirstWriteMakesTheWindowsLayoutAndLaterOnesReplaceTheValue) {
    ASSERT_TRUE(Set(ini_, "0"));
    EXPECT_EQ(Contents(ini_), "[Form]\r\nQuit=0\r\n");
    ASSERT_TRUE(Set(ini_, "1"));
    EXPECT_EQ(Contents(ini_), "[Form]\r\nQuit=1\r\n");

    // A section of its own goes after the others and leaves them as they were.
    ASSERT_TRUE(Set(ini_, "x", "Other", "Key"));
    EXPECT_EQ(Contents(ini_), "[Form]\r\nQuit=1\r\n[Other]\r\nKey=x\r\n");
    ASSERT_TRUE(Set(ini_, "0"));
    EXPECT_EQ(Contents(ini_), "[Form]\r\nQuit=0\r\n[Other]\r\nKey=x\r\n");
    EXPECT_EQ(Files(), 1) << "a temporary file was left";
}

TEST_F(Profile, FileNamesAreMatchedWhateverTheirCase) {
    const std::string other_case = (folder_ / "velmorin.INI").string();
    Put(other_case, "[Form]\r\nQuit=1\r\n");
    EXPECT_EQ(Get(ini_), "1");
    ASSERT_TRUE(Set(ini_, "0"));
    EXPECT_EQ(Files(), 1);
    EXPECT_EQ(Contents(other_case), "[Form]\r\nQuit=0\r\n");
}

} // namespace
