#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "LogDecode.h"
#include "RecordLayout.h"
#include "TracePlatformHost.h"
#include "XTrace.h"

namespace fs = std::filesystem;

namespace {

class LogDecodeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/logdecode-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        std::ofstream(dir_ / "TqDbgCfg.ini") << "[OUTPUT]\nLOGFILE=1\nVIEW=1\nLEVEL=1\n";
        setenv("XTRACE_USER_REGISTRY", (dir_ / "none.reg").c_str(), 1);
        TracePlatformHost::SetExecutablePath(
            TracePlatformHost::CorePath((dir_ / "Installer").string()));
        TracePlatformHost::CaptureDebugChannel(&channel_);
        LogFileName.clear();
        InitTrace();
    }
    void TearDown() override {
        TracePlatformHost::ResetControls();
        TraceSettings = {0, 0, 3};
        LogFileName.clear();
        unsetenv("XTRACE_USER_REGISTRY");
        fs::remove_all(dir_);
    }
    std::string LogBytes() {
        std::ifstream in(dir_ / TracePlatformHost::ToUtf8(LogFileName), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
    std::vector<std::u16string> channel_;
};

TEST_F(LogDecodeTest, DecodedLogReadsAsTheDebuggerChannel) {
    TraceOut(TraceSite{u".\\Entry.cpp", 22, 1}, u"argc =%d", 3);
    TraceOut(TraceSite{u".\\Reinstall.cpp", 38, 1}, u"abBuf = %x\n", 0x12ab34u);
    TraceOut(TraceSite{u".\\Sample.cpp", 7, 2}, u"first line\nplain rest (kept) : 0123");
    // Plain rests that resemble a scrambled record but do not have its columns or digits.
    TraceOut(TraceSite{u".\\Sample.cpp", 8, 2},
             u"x\nAhpi z y\n                  Ahpppi z y\n AAAAAAAAAAAAAAAAAAAhppppi z y");
    // Two-byte UTF-8: in the shifted part up to U+00BF, in the plain rest up to U+00FF.
    TraceOut(TraceSite{u".\\Sample.cpp", -5, 1},
             u"caf\u00e9 ~!@#$%%^&*()_+{}|:\"<>? \u00ff \u0080\u00a9\u00bf\n\u00e9\u0080\u00ff");
    TraceOut(TraceSite{u"C:\\src\\A Long Source File Name.cpp", 123456, 1}, u"[%s]", u"x\u4e2dy");

    std::string expected;
    for (std::u16string line : channel_) {
        // Shifted past U+00FF, a character has no byte in the log.
        for (size_t i = 0; i < line.size() && line[i] != u'\n'; ++i) {
            line[i] = line[i] >= 0xC0 ? char16_t{0xFFFD} : line[i];
        }
        expected += TracePlatformHost::ToUtf8(line);
    }
    EXPECT_EQ(DecodeTraceLog(LogBytes()), expected);
}

TEST(LogDecode, RecognisesOnlyTheScrambledLayout) {
    const std::u16string pad(13, u' ');
    EXPECT_TRUE(IsScrambledRecord(pad + u"\x93\xA1\xAD\xB0\xAC\xA5hpppwi z \xB5"));
    EXPECT_TRUE(IsScrambledRecord(pad + u"     \x93hmppqi z x"));                 // line -1
    EXPECT_TRUE(IsScrambledRecord(std::u16string(20, u'\x93') + u"hqpppqi z x")); // unpadded
    EXPECT_FALSE(IsScrambledRecord(u"plain rest (kept) : 0123"));
    EXPECT_FALSE(IsScrambledRecord(pad + u"      hppppi z "));   // no base name
    EXPECT_FALSE(IsScrambledRecord(pad + u"     \x93hi z "));    // no line number
    EXPECT_FALSE(IsScrambledRecord(pad + u"     \x93hmppi z ")); // "-01" is not "%04d"
    EXPECT_FALSE(IsScrambledRecord(u""));
    // Plain text with exactly the scrambled layout cannot be told apart: it is shifted too.
    EXPECT_TRUE(IsScrambledRecord(pad + u"     Ahppppi z y"));
}

// A line that counts the characters read from it.
struct CountedLine {
    std::u16string_view text;
    size_t* reads;
    size_t size() const { return text.size(); }
    char16_t operator[](size_t i) const {
        ++*reads;
        return text[i];
    }
};

// `head`, then `block` until the line holds `size` characters or more.
std::u16string Repeated(std::u16string head, std::u16string_view block, size_t size) {
    while (head.size() < size) {
        head.append(block);
    }
    return head;
}

// Lines made of many candidate blocks that each fail only at their last test: blank-led ones
// (where the blanks were once scanned again for each block), blocks of digits, "i z " alone.
// Each character is read a bounded number of times, however long the line; the decoder gives
// the hostile line back as it stands and still decodes the record after it.
TEST(LogDecode, HostileLinesAreReadInLinearTime) {
    const std::u16string record =
        std::u16string(13, u' ') + u"\x93\xA1\xAD\xB0\xAC\xA5hpppwi z \xA1";
    for (const size_t size : {size_t{20000}, size_t{80000}}) {
        const std::vector<std::u16string> lines = {
            Repeated(std::u16string(size / 2, u' '), u"hppppi z ", size),
            Repeated(u" ", u"Ahmpppppppppppppppi z ", size),
            Repeated(u"", u"i z ", size),
        };
        for (size_t shape = 0; shape < lines.size(); ++shape) {
            const std::u16string& line = lines[shape];
            size_t reads = 0;
            EXPECT_FALSE(RecordLayout::HasScrambledRecordLayout(CountedLine{line, &reads}));
            EXPECT_LE(reads, 4 * line.size()) << "shape " << shape << ", " << size << " characters";
            const std::string bytes(line.begin(), line.end());
            std::string recordBytes(record.begin(), record.end());
            EXPECT_EQ(DecodeTraceLog(bytes + "\r\n" + recordBytes + "\r\n"),
                      bytes + "\n             Sample(0007) : a\n");
        }
    }
}

TEST(LogDecode, ArbitraryBytesNeverBreakIt) {
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 300, '\0');
        for (char& b : bytes) {
            // Mostly bytes that occur in logs, so that record lines are formed too.
            const char alphabet[] = " hpqrsmiz\r\n\0?\xFF\x93";
            b = random() % 4 == 0 ? static_cast<char>(random())
                                  : alphabet[random() % (sizeof(alphabet) - 1)];
        }
        const std::string text = DecodeTraceLog(bytes);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
                  std::count(bytes.begin(), bytes.end(), '\n'));
    }
    EXPECT_EQ(DecodeTraceLog("a\r\r\nb"), "a\r\nb");
    // A NUL byte in a record line is kept and the shift goes on after it.
    const std::string record = std::string(13, ' ') + "\x93\xA1\xAD\xB0\xAC\xA5hpppwi z \xA1";
    EXPECT_EQ(DecodeTraceLog(record + std::string(1, '\0') + "\xA2\xA3\r\n"),
              "             Sample(0007) : a" + std::string(1, '\0') + "bc\n");
    EXPECT_EQ(DecodeTraceLog(""), "");
}

} // namespace
