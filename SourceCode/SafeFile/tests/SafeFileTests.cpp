// SafeFile's Linux stand-ins must keep the contract of the Windows calls they replace: the trace
// and the deployment log are tested against it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

#include "SafeFile.h"
#include "Utf8.h"

namespace {

namespace fs = std::filesystem;
using SafeFile::FileResult;

std::u16string Core(const std::string& path) {
    return Text::Utf8ToUtf16(path);
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class SafeFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/safefile-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

TEST_F(SafeFileTest, AppendCreatesAppendsAndRefusesWritersAndLinks) {
    auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto filesBefore = openFiles();
    const std::string path = dir_ + "/01020304.log";
    ASSERT_EQ(SafeFile::AppendToFile(Core(path), "ab\r\n", 4), FileResult::Done);
    ASSERT_EQ(SafeFile::AppendToFile(Core(path), "\xC3\0", 2), FileResult::Done);
    EXPECT_EQ(Read(path), std::string("ab\r\n\xC3\0", 6));
    EXPECT_EQ(SafeFile::AppendToFile(Core(dir_ + "/gone/x.log"), "x", 1), FileResult::NotOpened);

    // Another writer holds it: nothing is written. A reader never keeps a record out.
    const int writer = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(writer, LOCK_EX), 0);
    EXPECT_EQ(SafeFile::AppendToFile(Core(path), "x", 1), FileResult::SharingViolation);
    close(writer);
    const int reader = open(path.c_str(), O_RDONLY);
    EXPECT_EQ(SafeFile::AppendToFile(Core(path), "y", 1), FileResult::Done);
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
        EXPECT_EQ(SafeFile::AppendToFile(Core(name), "x", 1), FileResult::NotPlain) << name;
    }
    EXPECT_EQ(Read(target), "kept");
    EXPECT_TRUE(fs::is_symlink(symlinked));
    EXPECT_FALSE(fs::exists(dir_ + "/made.txt"));
    EXPECT_EQ(fs::hard_link_count(target), 2u);
    // Once the name is free again, the next append creates the file.
    fs::remove(hardLinked);
    EXPECT_EQ(SafeFile::AppendToFile(Core(hardLinked), "x", 1), FileResult::Done);
    EXPECT_EQ(Read(hardLinked), "x");
    EXPECT_EQ(openFiles(), filesBefore) << "a refused append left its file open";
}

} // namespace
