// What the Linux profile functions promise beyond the Windows ones: the file's own layout
// byte for byte, its permission bits and links, and a quit request shared by many processes
// that never reads as anything but a whole value.

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A literal that holds zero bytes, whole.
template <std::size_t N> std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

class PosixProfile : public testing::Test {
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
        Bytes("\xFF\xFE[\0O\0]\0\r\0\n\0K\0=\0\xE9\0\x3D\xD8\x00\xDE\x00\xD8\r\0\n\0");
    Put(ini_, utf16);
    ASSERT_TRUE(Set(ini_, "1"));
    EXPECT_EQ(Contents(ini_),
              utf16 + Bytes("[\0F\0o\0r\0m\0]\0\r\0\n\0Q\0u\0i\0t\0=\0001\0\r\0\n\0"));
    char value[16] = {};
    platform::GetPrivateProfileStringA("O", "K", "", value, sizeof value, ini_.c_str());
    EXPECT_STREQ(value, "\xC3\xA9\xF0\x9F\x98\x80\xED\xA0\x80") << "as UTF-8";

    // A null value removes the key, a null key the whole section.
    Put(ini_, "[Other]\r\nX=1\r\n[Form]\r\nQuit=0\r\n");
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

TEST_F(PosixProfile, WriteKeepsPermissionBitsAndLinks) {
    Put(ini_, "[Form]\r\nQuit=0\r\n");
    ASSERT_EQ(::chmod(ini_.c_str(), 0640), 0);
    ASSERT_TRUE(Set(ini_, "1"));
    struct stat info {};
    ASSERT_EQ(::stat(ini_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    const std::string real = folder_ + "/real.ini";
    fs::rename(ini_, real);
    fs::create_symlink(real, ini_);
    ASSERT_TRUE(Set(ini_, "0"));
    EXPECT_TRUE(fs::is_symlink(ini_));
    EXPECT_EQ(Contents(real), "[Form]\r\nQuit=0\r\n");
}

TEST_F(PosixProfile, ReadOnlyFileOrFolderIsRefusedWithItsReason) {
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
        const std::string denied = std::strerror(EACCES);
        const bool in_locked = Set(locked + "/Velmorin.ini", "1");
        const bool locked_reason = platform::LastErrorText() == denied;
        const bool read_only = Set(open + "/Velmorin.ini", "1");
        const bool read_only_reason = platform::LastErrorText() == denied;
        ::_exit(in_locked || read_only ? 1 : !locked_reason || !read_only_reason ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 1) << "a write into a read-only folder or file succeeded";
    EXPECT_NE(WEXITSTATUS(status), 3) << "a refusal gave another reason than EACCES";
    EXPECT_TRUE(fs::is_empty(locked));
    EXPECT_EQ(std::distance(fs::directory_iterator(open), fs::directory_iterator()), 1);
    EXPECT_EQ(Contents(open + "/Velmorin.ini"), "[Form]\r\nQuit=0\r\n");
}

// Every running copy polls the quit request while others write it: several writer and reader
// processes for a fixed time. A reader must only ever see a whole value, the other section
// must survive every write, and no temporary file may stay behind.
TEST_F(PosixProfile, StressManyWritersAndReadersSeeWholeValuesOnly) {
    constexpr int kWriters = 4;
    constexpr int kReaders = 4;
    constexpr auto kRun = std::chrono::seconds(3);
    Put(ini_, "; shared by every copy\r\n[Form]\r\nQuit=0\r\n[Other]\r\nKeep=yes\r\n");

    // Each child reports its counts through a pipe: calls made, and calls that went wrong.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const auto deadline = std::chrono::steady_clock::now() + kRun;
    std::vector<pid_t> children;
    for (int i = 0; i < kWriters + kReaders; ++i) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool writer = i < kWriters;
            long calls = 0;
            long wrong = 0;
            while (std::chrono::steady_clock::now() < deadline) {
                if (writer) {
                    wrong += Set(ini_, (calls + i) % 2 == 0 ? "1" : "0") ? 0 : 1;
                } else {
                    // A default that is neither value shows a truncated or missing file.
                    char quit[16] = {};
                    char keep[16] = {};
                    platform::GetPrivateProfileStringA("Form", "Quit", "gone", quit, sizeof quit,
                                                       ini_.c_str());
                    platform::GetPrivateProfileStringA("Other", "Keep", "gone", keep, sizeof keep,
                                                       ini_.c_str());
                    const std::string value = quit;
                    wrong += (value == "0" || value == "1") && std::string(keep) == "yes" ? 0 : 1;
                }
                ++calls;
            }
            const long counts[3] = {writer ? 1 : 0, calls, wrong};
            ::_exit(::write(report[1], counts, sizeof counts) == sizeof counts ? 0 : 1);
        }
        children.push_back(child);
    }
    ::close(report[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    long reads = 0;
    long writes = 0;
    long bad_reads = 0;
    long failed_writes = 0;
    long counts[3];
    while (::read(report[0], counts, sizeof counts) == sizeof counts) {
        (counts[0] ? writes : reads) += counts[1];
        (counts[0] ? failed_writes : bad_reads) += counts[2];
    }
    ::close(report[0]);
    std::printf(
        "stress: %ld polls (2 reads each) by %d processes, %ld writes by %d processes in %lld s\n",
        reads, kReaders, writes, kWriters, static_cast<long long>(kRun.count()));
    EXPECT_EQ(bad_reads, 0);
    EXPECT_EQ(failed_writes, 0);
    EXPECT_GT(reads, 100);
    EXPECT_GT(writes, 100);
    EXPECT_EQ(Entries(), std::set<std::string>{"Velmorin.ini"});
}

} // namespace
