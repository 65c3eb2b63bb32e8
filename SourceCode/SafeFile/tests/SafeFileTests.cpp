// FileClock's Linux stand-ins must keep the contract of the Windows calls they replace: the trace
// and the deployment log are tested against it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "SafeFile.h"
#include "SafeFileHost.h"
#include "Utf8.h"

namespace {

namespace fs = std::filesystem;
using FileClock::FileResult;

std::u16string Core(const std::string& path) {
    return Text::Utf8ToUtf16(path);
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class FileClockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/fileclock-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        FileClockHost::SetClock(std::nullopt);
        fs::remove_all(dir_);
    }
    std::string dir_;
};

TEST_F(FileClockTest, AppendCreatesAppendsAndRefusesWritersAndLinks) {
    auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto filesBefore = openFiles();
    const std::string path = dir_ + "/01020304.log";
    ASSERT_EQ(FileClock::AppendToFile(Core(path), "ab\r\n", 4), FileResult::Done);
    ASSERT_EQ(FileClock::AppendToFile(Core(path), "\xC3\0", 2), FileResult::Done);
    EXPECT_EQ(Read(path), std::string("ab\r\n\xC3\0", 6));
    EXPECT_EQ(FileClock::AppendToFile(Core(dir_ + "/gone/x.log"), "x", 1), FileResult::NotOpened);

    // Another writer holds it: nothing is written. A reader never keeps a record out.
    const int writer = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(writer, LOCK_EX), 0);
    EXPECT_EQ(FileClock::AppendToFile(Core(path), "x", 1), FileResult::SharingViolation);
    close(writer);
    const int reader = open(path.c_str(), O_RDONLY);
    EXPECT_EQ(FileClock::AppendToFile(Core(path), "y", 1), FileResult::Done);
    close(reader);
    EXPECT_EQ(Read(path), std::string("ab\r\n\xC3\0y", 7));

    // A name that leads elsewhere takes nothing, and stays what it was: a symbolic link (to a
    // file or to nothing yet), a second hard link of another file, a pipe.
    const std::string target = dir_ + "/target.txt";
    std::ofstream(target) << "kept";
    const std::string symlinked = dir_ + "/01020305.log";
    const std::string dangling = dir_ + "/01020306.log";
    const std::string hardLinked = dir_ + "/01020307.log";
    const std::string pipe = dir_ + "/01020308.log";
    ASSERT_EQ(symlink(target.c_str(), symlinked.c_str()), 0);
    ASSERT_EQ(symlink((dir_ + "/made.txt").c_str(), dangling.c_str()), 0);
    ASSERT_EQ(link(target.c_str(), hardLinked.c_str()), 0);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& name : {symlinked, dangling, hardLinked, pipe}) {
        EXPECT_EQ(FileClock::AppendToFile(Core(name), "x", 1), FileResult::NotPlain) << name;
    }
    EXPECT_EQ(Read(target), "kept");
    EXPECT_TRUE(fs::is_symlink(symlinked));
    EXPECT_FALSE(fs::exists(dir_ + "/made.txt"));
    EXPECT_EQ(fs::hard_link_count(target), 2u);
    // Once the name is free again, the next append creates the file.
    fs::remove(hardLinked);
    EXPECT_EQ(FileClock::AppendToFile(Core(hardLinked), "x", 1), FileResult::Done);
    EXPECT_EQ(Read(hardLinked), "x");
    EXPECT_EQ(openFiles(), filesBefore) << "a refused append left its file open";
}

TEST_F(FileClockTest, ClockAndBreakDown) {
    FileClockHost::SetClock(1709257500); // 2024-03-01 01:45:00 UTC
    EXPECT_EQ(FileClock::CurrentTime(), 1709257500);
    const char* previous = std::getenv("TZ");
    const std::optional<std::string> saved =
        previous ? std::optional<std::string>(previous) : std::nullopt;
    setenv("TZ", "XYZ-2", 1); // two hours east of UTC
    FileClock::CivilTime local{};
    FileClock::CivilTime utc{};
    ASSERT_TRUE(FileClock::BreakDown(1709257500, &local, &utc));
    EXPECT_EQ((std::vector<int>{local.year, local.month, local.day, local.hour, local.minute,
                                local.second, utc.hour}),
              (std::vector<int>{2024, 3, 1, 3, 45, 0, 1}));
    const FileClock::LocalTime now = FileClock::LocalNow();
    EXPECT_EQ(now.local.hour, 3);
    EXPECT_EQ(now.utcOffsetMinutes, 120);
    EXPECT_FALSE(FileClock::BreakDown(-1, &local, nullptr));
    EXPECT_FALSE(FileClock::BreakDown(int64_t{1} << 60, &local, nullptr));
    saved ? setenv("TZ", saved->c_str(), 1) : unsetenv("TZ");
}

// The offset from UTC across a day, a month and a year, both ways.
TEST(FileClockTime, TheOffsetIsLocalLessUtcAcrossDates) {
    using FileClock::CivilTime;
    const std::vector<std::tuple<CivilTime, CivilTime, int>> cases = {
        {{2026, 12, 9, 7, 12, 3}, {2026, 12, 9, 6, 12, 3}, 60},
        {{2026, 12, 10, 1, 0, 0}, {2026, 12, 9, 23, 0, 0}, 120},
        {{2026, 12, 9, 20, 0, 0}, {2026, 12, 10, 1, 0, 0}, -300},
        {{2027, 1, 1, 0, 30, 0}, {2026, 12, 31, 23, 30, 0}, 60},
        {{2026, 2, 28, 19, 15, 0}, {2026, 3, 1, 0, 45, 0}, -330},
        {{2026, 3, 1, 13, 45, 0}, {2026, 2, 28, 23, 0, 0}, 885},
        {{2026, 6, 30, 14, 0, 0}, {2026, 7, 1, 0, 0, 0}, -600},
    };
    for (const auto& [local, utc, offset] : cases) {
        EXPECT_EQ(FileClock::UtcOffsetMinutes(local, utc), offset) << offset;
    }
}

} // namespace
