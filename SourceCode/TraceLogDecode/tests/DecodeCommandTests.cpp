// TraceLogDecode's command through the host stand-ins of its streams: standard input, output and
// error are real descriptors, redirected to files for the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DecodeCommand.h"
#include "DecodeStreamsHost.h"
#include "LogDecode.h"
#include "Utf8.h"
#include "XTrace.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int exitCode;
    std::string out;
    std::string err;
};

class DecodeCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/decode-command-test-XXXXXX";
        dir_ = mkdtemp(pattern);
    }
    void TearDown() override {
        DecodeStreamsHost::SetReadFailureAfter(std::nullopt);
        fs::remove_all(dir_);
    }

    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Write(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    // Runs the command with `input` as standard input.
    Outcome Decode(const std::vector<std::u16string>& arguments, const std::string& input = "") {
        Write(dir_ / "stdin", input);
        const int saved[3] = {dup(0), dup(1), dup(2)};
        const char* names[3] = {"stdin", "stdout", "stderr"};
        for (int fd = 0; fd < 3; ++fd) {
            const int file = open((dir_ / names[fd]).c_str(),
                                  fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(file, fd);
            close(file);
        }
        const int exitCode = RunTraceLogDecode(arguments);
        for (int fd = 0; fd < 3; ++fd) {
            dup2(saved[fd], fd);
            close(saved[fd]);
        }
        return {exitCode, Read(dir_ / "stdout"), Read(dir_ / "stderr")};
    }

    fs::path dir_;
};

// The bytes the trace writes for `line`: scrambled, one byte per character, CR LF.
std::string LogLine(std::u16string line) {
    ScrambleLine(line.data());
    std::string bytes;
    for (char16_t c : line) {
        bytes.push_back(static_cast<char>(c));
    }
    return bytes + "\r\n";
}

// A record holding U+FFDA is written with the byte 0x1A, which ends a text-mode read on Windows:
// the records after it are decoded all the same, from standard input and from a file whose name
// no ANSI code page holds, with LF line ends.
TEST_F(DecodeCommandTest, EveryByteIsReadAndWrittenAsItIs) {
    const std::vector<std::u16string> records = {
        u"          Entry.cpp(0022) : argc =3",
        u"         Sample.cpp(0007) : before \uFFDA after",
        u"         Sample.cpp(0008) : the last",
    };
    std::string log;
    std::string expected;
    for (const std::u16string& record : records) {
        log += LogLine(record);
        expected += Text::Utf16ToUtf8(record) + "\n";
    }
    ASSERT_NE(log.find('\x1A'), std::string::npos);

    Outcome run = Decode({}, log);
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, kDecodeDone);

    const std::u16string name =
        (dir_ / "").u16string() + u"\u0436\u0443\u0440\u043d\u0430\u043b-\u65e5\u672c.log";
    Write(Text::Utf16ToUtf8(name), log);
    run = Decode({name, name});
    EXPECT_EQ(run.out, expected + expected);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, kDecodeDone);
}

// An input that cannot be opened is named and the next is decoded (1); a read that fails part
// way leaves what came before it decoded, and the exit code says the input was cut (2).
TEST_F(DecodeCommandTest, ExitCodeSaysWhatWasNotRead) {
    const std::string record = LogLine(u"          Entry.cpp(0022) : argc =3");
    const std::string decoded = "          Entry.cpp(0022) : argc =3\n";
    Write(dir_ / "a.log", record);
    const std::u16string missing = (dir_ / "missing.log").u16string();
    const std::u16string present = (dir_ / "a.log").u16string();

    Outcome run = Decode({missing, present});
    EXPECT_EQ(run.out, decoded);
    EXPECT_EQ(run.err, "TraceLogDecode: cannot open " + Text::Utf16ToUtf8(missing) + "\n");
    EXPECT_EQ(run.exitCode, kDecodeNotRead);

    DecodeStreamsHost::SetReadFailureAfter(record.size() + 20);
    run = Decode({}, record + record + record);
    // The line cut short has no record layout: its bytes are printed as they are.
    const std::string head = DecodeTraceLog(record.substr(0, 20));
    EXPECT_EQ(run.out, decoded + head);
    EXPECT_EQ(run.err, "TraceLogDecode: reading stopped after " +
                           std::to_string(record.size() + 20) + " bytes of standard input\n");
    EXPECT_EQ(run.exitCode, kDecodeInputCut);

    DecodeStreamsHost::SetReadFailureAfter(20);
    run = Decode({present, missing, present});
    EXPECT_EQ(run.out, DecodeTraceLog(record.substr(0, 20)) + DecodeTraceLog(record.substr(0, 20)));
    EXPECT_EQ(run.err, "TraceLogDecode: reading stopped after 20 bytes of " +
                           Text::Utf16ToUtf8(present) + "\nTraceLogDecode: cannot open " +
                           Text::Utf16ToUtf8(missing) +
                           "\nTraceLogDecode: reading stopped after 20 bytes of " +
                           Text::Utf16ToUtf8(present) + "\n");
    EXPECT_EQ(run.exitCode, kDecodeInputCut);
}

} // namespace
