// What the Linux profile functions promise beyond the Windows ones: the file's own layout
// byte for byte, its permission bits and links, and a quit request shared by many processes
// that never reads as anything but a whole value.

#include "profile_fixture.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

using PosixProfile = Profile;

// Runs `body` in a child, if asked as one that has given up root (root ignores permission
// bits), and returns its exit status; -1 when it was killed, as it is when held up for 10 s.
template <typename Body> int InChild(Body body, bool as_nobody = false) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);
        const bool stay_root = !as_nobody || ::geteuid() != 0;
        ::_exit(stay_root || (::setgid(65534) == 0 && ::setuid(65534) == 0) ? body() : 99);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(PosixProfile, WriteKeepsTheFileAsItWasAroundTheChange) {
    // LF line ends, a byte order mark, comments, blank lines and other sections all survive,
    // and the key keeps its place and its spelling.
    Put(ini_, "\xEF\xBB\xBF; settings\n[Window]\nLeft=10\n\n[form]\nA=1\nquit = 0\nB=2\n\n"
              "[Last]\nC=3\n");
    ASSERT_TRUE(Set(ini_, "1"));
    ASSERT_TRUE(Set(ini_, "x", "Window", "Top"));
    EXPECT_EQ(Contents(ini_), "\xEF\xBB\xBF; settings\n[Window]\nLeft=10\nTop=x\n\n[form]\nA=1\n"
                              "quit=1\nB=2\n\n[Last]\nC=3\n");

    // Lone CR line ends stay lone CRs; a last line without a line end gets the file's own.
    Put(ini_, "[Other]\rX=1");
    ASSERT_TRUE(Set(ini_, "0"));
    EXPECT_EQ(Contents(ini_), "[Other]\rX=1\r[Form]\rQuit=0\r");

    // A UTF-16 file stays UTF-16, with whatever it holds beyond ASCII.
    const std::string utf16 =
        "\xFF\xFE[\0O\0]\0\r\0\n\0K\0=\0\xE9\0\x3D\xD8\x00\xDE\x00\xD8\r\0\n\0"s;
    Put(ini_, utf16);
    ASSERT_TRUE(Set(ini_, "1"));
    EXPECT_EQ(Contents(ini_), utf16 + "[\0F\0o\0r\0m\0]\0\r\0\n\0Q\0u\0i\0t\0=\0001\0\r\0\n\0"s);
    EXPECT_EQ(Get(ini_, "O", "K"), "\xC3\xA9\xF0\x9F\x98\x80\xED\xA0\x80") << "as UTF-8";

    // Text that would break the file's lines is refused and leaves the file alone.
    Put(ini_, "[Form]\r\nQuit=0\r\n");
    EXPECT_FALSE(Set(ini_, "1\r\n[Form]"));
    EXPECT_FALSE(Set(ini_, "1", "Form", "Qu=it"));
    EXPECT_FALSE(Set(ini_, "1", "Fo]rm", "Quit"));
    EXPECT_EQ(Contents(ini_), "[Form]\r\nQuit=0\r\n");
}

// A write keeps the file's permission bits and its symbolic link, and a file its user may not
// write is refused with that reason, never replaced by a rename. A folder its user may not
// write is met end to end (the About test's copies run as nobody).
TEST_F(PosixProfile, WriteKeepsPermissionsAndLinksAndIsRefusedWhereTheyForbidIt) {
    const std::string dir = folder_.string();
    Put(ini_, "[Form]\r\nQuit=0\r\n");
    ASSERT_EQ(::chmod(ini_.c_str(), 0640), 0);
    fs::rename(ini_, dir + "/real.ini");
    fs::create_symlink(dir + "/real.ini", ini_);
    ASSERT_TRUE(Set(ini_, "1"));
    EXPECT_TRUE(fs::is_symlink(ini_));
    EXPECT_EQ(fs::status(ini_).permissions(), fs::perms(0640));
    EXPECT_EQ(Contents(dir + "/real.ini"), "[Form]\r\nQuit=1\r\n");

    const std::string read_only = dir + "/open/Velmorin.ini";
    fs::create_directories(dir + "/open");
    Put(read_only, "[Form]\r\nQuit=0\r\n");
    fs::permissions(dir + "/open", fs::perms(0777));
    fs::permissions(read_only, fs::perms(0444));
    fs::permissions(folder_, fs::perms(0755));
    const auto write = [&] {
        return Set(read_only, "1") ? 1 : platform::LastErrorText() != strerror(EACCES);
    };
    EXPECT_EQ(InChild(write, true), 0) << "1 written, 2 refused with another reason than EACCES";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/open"), {}), 1);
    EXPECT_EQ(Contents(read_only), "[Form]\r\nQuit=0\r\n");
}

// What is no settings file is read as none and never replaced: a pipe, which must not hold up
// the caller, and a file past 16 MiB, which would stall every tick. 16 MiB itself is still read.
TEST_F(PosixProfile, PipesAndFilesPastSixteenMebibytesAreNoSettingsFiles) {
    ASSERT_EQ(::mkfifo(ini_.c_str(), 0600), 0);
    EXPECT_EQ(InChild([&] { return Get(ini_) == "0" && !Set(ini_, "1") ? 0 : 1; }), 0)
        << "1: the pipe was read or written, -1: the call was held up";
    EXPECT_TRUE(fs::is_fifo(ini_));
    fs::remove(ini_);

    const std::string header = "[Form]\r\nQuit=1\r\n;";
    const std::string largest = header + std::string((16 << 20) - header.size() - 2, 'x') + "\r\n";
    Put(ini_, largest);
    EXPECT_EQ(Get(ini_), "1");
    Put(ini_, largest + ";");
    EXPECT_EQ(Get(ini_), "0");
    EXPECT_FALSE(Set(ini_, "0"));
    EXPECT_EQ(platform::LastErrorText(), strerror(EFBIG));
    EXPECT_TRUE(Contents(ini_) == largest + ";") << "the file was changed";
}

// Every running copy polls the quit request while others write it: writer processes write it
// back and forth while readers read it, until a last write ends them. A reader must only ever
// see a whole value, the other section must survive every write, and no temporary file may
// stay behind.
TEST_F(PosixProfile, StressManyWritersAndReadersSeeWholeValuesOnly) {
    Put(ini_, "; shared by every copy\r\n[Form]\r\nQuit=0\r\n[Other]\r\nKeep=yes\r\n");
    std::vector<pid_t> children;
    for (int i = 0; i < 8; ++i) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::alarm(30);
            const bool writer = i < 4;
            for (int call = 0; !writer || call < 200; ++call) {
                // Keep comes last: a truncated or missing file loses it.
                const std::string value = Get(ini_);
                const bool whole = (value == "0" || value == "1" || value == "end") &&
                                   Get(ini_, "Other", "Keep") == "yes";
                if (!whole || (writer && !Set(ini_, (call + i) % 2 == 0 ? "1" : "0"))) {
                    ::_exit(1);
                }
                if (value == "end") {
                    ::_exit(0);
                }
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        int status = 0;
        ASSERT_EQ(::waitpid(children[i], &status, 0), children[i]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "a write failed or a read saw a part of the file";
        if (i == 3) {
            ASSERT_TRUE(Set(ini_, "end"));
        }
    }
    EXPECT_EQ(Files(), 1) << "a temporary file was left";
}

} // namespace
