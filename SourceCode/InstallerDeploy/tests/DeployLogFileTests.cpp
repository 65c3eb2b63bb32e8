// The deployment log on disk: whole records whatever the interleaving of writers, and one
// roll-over per full log, through SafeFile's host stand-ins on real files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "DeployLogFile.h"
#include "SafeFileHost.h"
#include "Utf8.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// "<writer>.<record> " padded with dots to 64 bytes, CR LF ended: a cut or a mix shows.
std::string Record(int writer, int record) {
    std::string text = "==== " + std::to_string(writer) + "." + std::to_string(record) + " ";
    text.resize(62, '.');
    return text + "\r\n";
}

class DeployLogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/deploy-log-file-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        log_ = dir_ + "/Deploy.log";
        old_ = dir_ + "/Deploy.old";
    }
    void TearDown() override {
        SafeFileHost::SetBeforeRename({});
        SafeFileHost::SetBeforeLock({});
        fs::remove_all(dir_);
    }
    LogWrite Append(const std::string& record, uint64_t rollBytes = kDeployLogRollBytes) {
        return AppendRecord(Text::Utf8ToUtf16(log_), record, rollBytes);
    }

    std::string dir_;
    std::string log_;
    std::string old_;
};

TEST(DeployLogName, RollsOverToTheNameWithOld) {
    EXPECT_EQ(RolledOverName(u"C:\\Logs\\Deploy.log"), u"C:\\Logs\\Deploy.old");
    EXPECT_EQ(RolledOverName(u"C:\\my.logs\\deploy"), u"C:\\my.logs\\deploy.old");
}

// One byte short of the limit the log grows; at it, it becomes the one .old file (replacing the
// one before) and the record starts the new log.
TEST_F(DeployLogFileTest, AFullLogRollsOverToOneOldFile) {
    std::ofstream(old_) << "older";
    const std::string full(99, 'x');
    std::ofstream(log_, std::ios::binary) << full;
    EXPECT_EQ(Append(Record(1, 1), 100).result, SafeFile::FileResult::Done);
    EXPECT_EQ(Read(old_), "older");
    EXPECT_EQ(Read(log_), full + Record(1, 1));

    const LogWrite rolled = Append(Record(1, 2), 100);
    EXPECT_EQ(rolled.result, SafeFile::FileResult::Done);
    EXPECT_FALSE(rolled.rollFailed);
    EXPECT_EQ(Read(old_), full + Record(1, 1));
    EXPECT_EQ(Read(log_), Record(1, 2));
}

// A full log whose rename fails (its .old name is a folder that is not empty) takes the record
// all the same, and says that it could not roll over.
TEST_F(DeployLogFileTest, AFullLogThatCannotRollOverStillTakesTheRecord) {
    fs::create_directories(old_ + "/kept");
    std::ofstream(log_, std::ios::binary) << std::string(100, 'x');
    const LogWrite written = Append(Record(1, 1), 100);
    EXPECT_EQ(written.result, SafeFile::FileResult::Done);
    EXPECT_TRUE(written.rollFailed);
    EXPECT_EQ(Read(log_), std::string(100, 'x') + Record(1, 1));
}

// Writers at the same time, with a limit that the whole lot crosses once: every record is in the
// log or the .old file, whole, once, and neither file starts or ends inside one.
TEST_F(DeployLogFileTest, ConcurrentWritersLeaveEveryRecordWholeAcrossARollOver) {
    constexpr int kWriters = 4;
    constexpr int kRecords = 60;
    const uint64_t total = uint64_t{kWriters} * kRecords * Record(0, 0).size();
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int r = 0; r < kRecords; ++r) {
                if (Append(Record(w, r), total * 6 / 10).result != SafeFile::FileResult::Done) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(failures.load(), 0);
    std::map<std::string, int> seen;
    for (const std::string& file : {old_, log_}) {
        const std::string text = Read(file);
        ASSERT_EQ(text.size() % Record(0, 0).size(), 0u) << file;
        for (size_t at = 0; at < text.size(); at += Record(0, 0).size()) {
            ++seen[text.substr(at, Record(0, 0).size())];
        }
    }
    ASSERT_EQ(seen.size(), size_t{kWriters} * kRecords);
    for (int w = 0; w < kWriters; ++w) {
        for (int r = 0; r < kRecords; ++r) {
            EXPECT_EQ(seen[Record(w, r)], 1) << w << "." << r;
        }
    }
}

// The rename of a roll-over held up while a second writer, which also found the log full, runs
// into it: the second writer waits, then writes to the fresh log without rolling the history
// over once more.
TEST_F(DeployLogFileTest, AWriterMeetingARollOverDoesNotRollTheHistoryAgain) {
    const std::string history = Record(0, 0) + Record(0, 1);
    std::ofstream(log_, std::ios::binary) << history;
    std::thread second;
    SafeFileHost::SetBeforeRename([&] {
        SafeFileHost::SetBeforeRename({});
        const uint32_t before = SafeFileHost::SharingViolations();
        second = std::thread(
            [&] { EXPECT_EQ(Append(Record(2, 0), 100).result, SafeFile::FileResult::Done); });
        while (SafeFileHost::SharingViolations() == before) {
            std::this_thread::yield();
        }
    });
    EXPECT_EQ(Append(Record(1, 0), 100).result, SafeFile::FileResult::Done);
    second.join();
    EXPECT_EQ(Read(old_), history);
    // Which of the two writes first to the fresh log is theirs to settle.
    const std::string fresh = Read(log_);
    EXPECT_TRUE(fresh == Record(1, 0) + Record(2, 0) || fresh == Record(2, 0) + Record(1, 0))
        << fresh;
}

// A writer that opened the full log just before another rolled it over, and got to it only
// after: it writes to the fresh log, not into the history under its new name.
TEST_F(DeployLogFileTest, AWriterThatOpenedTheLogBeforeARollOverWritesToTheFreshOne) {
    const std::string history = Record(0, 0) + Record(0, 1);
    std::ofstream(log_, std::ios::binary) << history;
    std::promise<void> opened;
    std::promise<void> rolled;
    SafeFileHost::SetBeforeLock([&] {
        SafeFileHost::SetBeforeLock({});
        opened.set_value();
        rolled.get_future().wait();
    });
    std::thread second(
        [&] { EXPECT_EQ(Append(Record(2, 0), 100).result, SafeFile::FileResult::Done); });
    opened.get_future().wait();
    EXPECT_EQ(Append(Record(1, 0), 100).result, SafeFile::FileResult::Done);
    rolled.set_value();
    second.join();
    EXPECT_EQ(Read(old_), history);
    EXPECT_EQ(Read(log_), Record(1, 0) + Record(2, 0));
}

// A link, a file with two names and a folder at the log's name are left as they were.
TEST_F(DeployLogFileTest, ANameThatIsNotAPlainFileTakesNothing) {
    const std::string target = dir_ + "/someone-elses.txt";
    std::ofstream(target) << "kept";
    ASSERT_EQ(symlink(target.c_str(), log_.c_str()), 0);
    EXPECT_EQ(Append(Record(1, 0)).result, SafeFile::FileResult::NotPlain);
    fs::remove(log_);
    ASSERT_EQ(link(target.c_str(), log_.c_str()), 0);
    EXPECT_EQ(Append(Record(1, 0)).result, SafeFile::FileResult::NotPlain);
    EXPECT_EQ(Read(target), "kept");
    EXPECT_EQ(AppendRecord(Text::Utf8ToUtf16(dir_ + "/no/such/folder.log"), "x\r\n").result,
              SafeFile::FileResult::NotOpened);
}

} // namespace
