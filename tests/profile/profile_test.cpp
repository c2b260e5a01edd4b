#include "platform/platform.h"
#include "platform/portable/posix_path.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class Profile : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "profile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        ini_ = folder_ + "/Velmorin.ini";
    }
    void TearDown() override {
        ::chmod(folder_.c_str(), 0700);
        fs::remove_all(folder_);
    }

    static void Put(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Reads the way the program does: a 16-byte buffer and the default "0".
    static std::string Get(const std::string& path, const char* section = "Form",
                           const char* key = "Quit") {
        char buffer[16] = {};
        const std::uint32_t length = platform::GetPrivateProfileStringA(
            section, key, "0", buffer, sizeof buffer, path.c_str());
        EXPECT_EQ(length, std::string(buffer).size());
        return buffer;
    }
    static bool Set(const std::string& path, const char* value, const char* section = "Form",
                    const char* key = "Quit") {
        return platform::WritePrivateProfileStringA(section, key, value, path.c_str());
    }
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    std::string folder_;
    std::string ini_;
};

TEST_F(Profile, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Get(ini_), "0");
    Put(ini_, "[Other]\r\nQuit=1\r\n");
    EXPECT_EQ(Get(ini_), "0");
    Put(ini_, "[Form]\r\nLeave=1\r\n[Other]\r\nQuit=1\r\n");
    EXPECT_EQ(Get(ini_), "0");
    // A key before any section belongs to no section.
    Put(ini_, "Quit=1\r\n[Form]\r\n");
    EXPECT_EQ(Get(ini_), "0");
    // A path that names a folder reads like a missing file.
    EXPECT_EQ(Get(folder_), "0");
}

TEST_F(Profile, ReadsHandEditedFilesLikeWindows) {
    Put(ini_, "\xEF\xBB\xBF; written by hand\n\n[ form ]\n  QUIT =  1  \n");
    EXPECT_EQ(Get(ini_), "1");

    Put(ini_, "[Other]\r\nQuit=0\r\n\r\n;[Form]\r\n[FORM]\r\n;Quit=0\r\nquit=1\r\nQuit=0\r\n");
    EXPECT_EQ(Get(ini_), "1") << "first of duplicate keys, comments skipped";

    Put(ini_, "[Form]\nQuit=\n");
    char buffer[16] = "junk";
    EXPECT_EQ(platform::GetPrivateProfileStringA("Form", "Quit", "0", buffer, 16, ini_.c_str()),
              0u);
    EXPECT_STREQ(buffer, "") << "an empty value is not the default";

    Put(ini_, "[Form]\nQuit=\"1\"\nName=a=b\nNote\n");
    EXPECT_EQ(Get(ini_), "1");
    EXPECT_EQ(Get(ini_, "Form", "Name"), "a=b");
    EXPECT_EQ(Get(ini_, "Form", "Note"), "0") << "a line without '=' is no key";

    Put(ini_, "[Form]\nQuit=1"); // no line end at all
    EXPECT_EQ(Get(ini_), "1");
}

TEST_F(Profile, LongValuesAreCutToTheBuffer) {
    Put(ini_, "[Form]\r\nQuit=1               x\r\n");
    EXPECT_EQ(Get(ini_), "1" + std::string(14, ' '));

    char buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(platform::GetPrivateProfileStringA("Form", "Quit", "0", buffer, 4, ini_.c_str()), 3u);
    EXPECT_STREQ(buffer, "1  ");
    EXPECT_EQ(buffer[4], '#') << "nothing written past the size";

    EXPECT_EQ(platform::GetPrivateProfileStringA("Form", "Quit", "0", buffer, 1, ini_.c_str()), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(platform::GetPrivateProfileStringA("Form", "Gone", "abcdef", buffer, 4, ini_.c_str()),
              3u);
    EXPECT_STREQ(buffer, "abc");
}

TEST_F(Profile, FirstWriteCreatesTheWindowsLayout) {
    ASSERT_TRUE(Set(ini_, "0"));
    EXPECT_EQ(Contents(ini_), "[Form]\r\nQuit=0\r\n");
    EXPECT_EQ(Get(ini_), "0");
    ASSERT_TRUE(Set(ini_, "1"));
    EXPECT_EQ(Contents(ini_), "[Form]\r\nQuit=1\r\n");
    EXPECT_EQ(Get(ini_), "1");
    EXPECT_EQ(Entries(), std::set<std::string>{"Velmorin.ini"});
}

TEST_F(Profile, WriteKeepsTheRestOfTheFile) {
    // LF line ends, a byte order mark, comments and other sections all survive, and the key keeps
    // its place and its spelling.
    Put(ini_, "\xEF\xBB\xBF; settings\n[Window]\nLeft=10\n\n[form]\nA=1\nquit = 0\nB=2\n\n"
              "[Last]\nC=3\n");
    ASSERT_TRUE(Set(ini_, "1"));
    EXPECT_EQ(Contents(ini_), "\xEF\xBB\xBF; settings\n[Window]\nLeft=10\n\n[form]\nA=1\nquit=1\n"
                              "B=2\n\n[Last]\nC=3\n");

    // A new key goes after the last line of its section, before the blank line.
    ASSERT_TRUE(Set(ini_, "x", "Window", "Top"));
    EXPECT_EQ(Contents(ini_), "\xEF\xBB\xBF; settings\n[Window]\nLeft=10\nTop=x\n\n[form]\nA=1\n"
                              "quit=1\nB=2\n\n[Last]\nC=3\n");

    // A missing section is appended, also to a last line that has no line end.
    Put(ini_, "[Other]\r\nX=1");
    ASSERT_TRUE(Set(ini_, "0"));
    EXPECT_EQ(Contents(ini_), "[Other]\r\nX=1\r\n[Form]\r\nQuit=0\r\n");

    // A null value removes the key, a null key the whole section.
    ASSERT_TRUE(Set(ini_, nullptr, "Other", "X"));
    EXPECT_EQ(Contents(ini_), "[Other]\r\n[Form]\r\nQuit=0\r\n");
    ASSERT_TRUE(platform::WritePrivateProfileStringA("Other", nullptr, nullptr, ini_.c_str()));
    EXPECT_EQ(Contents(ini_), "[Form]\r\nQuit=0\r\n");

    // Text that would break the file's lines is refused and leaves the file alone.
    EXPECT_FALSE(Set(ini_, "1\r\n[Form]"));
    EXPECT_FALSE(Set(ini_, "1", "Form", "Qu=it"));
    EXPECT_FALSE(Set(ini_, "1", "Fo]rm", "Quit"));
    EXPECT_EQ(Contents(ini_), "[Form]\r\nQuit=0\r\n");
}

TEST_F(Profile, WriteKeepsPermissionBitsAndLinks) {
    Put(ini_, "[Form]\r\nQuit=0\r\n");
    ASSERT_EQ(::chmod(ini_.c_str(), 0640), 0);
    ASSERT_TRUE(Set(ini_, "1"));
    struct stat info {};
    ASSERT_EQ(::stat(ini_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // A settings file that is a link to another file updates that file.
    const std::string real = folder_ + "/real.ini";
    fs::rename(ini_, real);
    fs::create_symlink(real, ini_);
    ASSERT_TRUE(Set(ini_, "0"));
    EXPECT_TRUE(fs::is_symlink(ini_));
    EXPECT_EQ(Contents(real), "[Form]\r\nQuit=0\r\n");
}

TEST_F(Profile, FileNameCaseIsIgnored) {
    EXPECT_EQ(platform::ResolveCase(ini_), ini_) << "nothing to match: the path unchanged";
    Put(folder_ + "/velmorin.INI", "[Form]\r\nQuit=1\r\n");
    EXPECT_EQ(platform::ResolveCase(ini_), folder_ + "/velmorin.INI");
    EXPECT_EQ(platform::ResolveCase(folder_ + "//VELMORIN.ini"), folder_ + "//velmorin.INI");
    EXPECT_EQ(platform::ResolveCase(folder_ + "/velmorin.INI"), folder_ + "/velmorin.INI");
    EXPECT_EQ(platform::ResolveCase(folder_ + "/Velmorin.in"), folder_ + "/Velmorin.in");

    // Both profile functions use the file whatever its case, with a doubled separator too.
    EXPECT_EQ(Get(folder_ + "//Velmorin.ini"), "1");
    ASSERT_TRUE(Set(folder_ + "//Velmorin.ini", "0"));
    EXPECT_EQ(Entries(), std::set<std::string>{"velmorin.INI"});
    EXPECT_EQ(Contents(folder_ + "/velmorin.INI"), "[Form]\r\nQuit=0\r\n");

    // An exact match wins over a file that differs only in case.
    Put(ini_, "[Form]\r\nQuit=1\r\n");
    EXPECT_EQ(platform::ResolveCase(ini_), ini_);
    EXPECT_EQ(Get(ini_), "1");
}

TEST_F(Profile, FailedWriteReturnsFalseAndLeavesNoTemporaryFile) {
    EXPECT_FALSE(Set(folder_, "1")) << "the path is a folder";
    EXPECT_FALSE(Set(folder_ + "/missing/Velmorin.ini", "1"));
    EXPECT_FALSE(Set("", "1"));
    EXPECT_FALSE(platform::WritePrivateProfileStringA("Form", "Quit", "1", nullptr));
    EXPECT_TRUE(Entries().empty());

    // Root ignores permission bits, so the writes run in a child that has given up root.
    const std::string locked = folder_ + "/locked";
    const std::string open = folder_ + "/open";
    fs::create_directory(locked);
    fs::create_directory(open);
    Put(open + "/Velmorin.ini", "[Form]\r\nQuit=0\r\n");
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    ASSERT_EQ(::chmod((open + "/Velmorin.ini").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(2);
        }
        const bool in_locked = Set(locked + "/Velmorin.ini", "1");
        const bool read_only = Set(open + "/Velmorin.ini", "1");
        ::_exit(in_locked || read_only ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a write into a read-only folder or file succeeded";
    EXPECT_TRUE(fs::is_empty(locked));
    EXPECT_EQ(fs::directory_iterator(open)->path().filename(), "Velmorin.ini");
    EXPECT_EQ(std::distance(fs::directory_iterator(open), fs::directory_iterator()), 1);
    EXPECT_EQ(Contents(open + "/Velmorin.ini"), "[Form]\r\nQuit=0\r\n");
}

TEST_F(Profile, ReadersInOtherProcessesNeverSeeAPartialWrite) {
    Put(ini_, "; shared by every copy\r\n[Form]\r\nQuit=0\r\n[Other]\r\nKeep=yes\r\n");
    constexpr int kWrites = 2000;
    std::vector<pid_t> writers;
    for (int w = 0; w < 2; ++w) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            bool ok = true;
            for (int i = 0; i < kWrites; ++i) {
                ok = Set(ini_, (i + w) % 2 == 0 ? "1" : "0") && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
        writers.push_back(child);
    }

    int reads = 0;
    int bad_reads = 0;
    std::string bad_value;
    for (std::size_t running = writers.size(); running > 0;) {
        // A default that is neither value shows a read of a truncated or missing file.
        char value[16] = {};
        platform::GetPrivateProfileStringA("Form", "Quit", "gone", value, sizeof value,
                                           ini_.c_str());
        ++reads;
        if (std::string(value) != "0" && std::string(value) != "1") {
            ++bad_reads;
            bad_value = value;
        }
        int status = 0;
        const pid_t done = ::waitpid(-1, &status, WNOHANG);
        if (done > 0) {
            --running;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed";
        }
    }
    EXPECT_EQ(bad_reads, 0) << "e.g. \"" << bad_value << "\"";
    EXPECT_GT(reads, 100);
    EXPECT_EQ(Get(ini_, "Other", "Keep"), "yes");
    EXPECT_EQ(Entries(), std::set<std::string>{"Velmorin.ini"});
}

} // namespace
