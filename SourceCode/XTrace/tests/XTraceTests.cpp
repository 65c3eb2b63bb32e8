#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "LocalClockHost.h"
#include "TracePlatform.h"
#include "TracePlatformHost.h"
#include "XTrace.h"

namespace fs = std::filesystem;

namespace {

// 2026-12-06 18:58:30 UTC; the tests run with TZ=UTC.
constexpr int64_t kStartTime = 1796583510;

class TraceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        char pattern[] = "/tmp/xtrace-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        // A file named without its folder would land here, where FilesIn sees it.
        previousDir_ = fs::current_path();
        fs::current_path(dir_);
        setenv("XTRACE_USER_REGISTRY", (dir_ / "user.reg").c_str(), 1);
        SetExecutableDirectory(dir_);
        TracePlatformHost::CaptureDebugChannel(&channel_);
        LocalClockHost::SetClock(kStartTime);
        TraceSettings = {0, 0, 3};
        LogFileName.clear();
    }
    void TearDown() override {
        TracePlatformHost::ResetControls();
        unsetenv("XTRACE_USER_REGISTRY");
        TraceSettings = {0, 0, 3};
        LogFileName.clear();
        EXPECT_EQ(TracePlatformHost::OpenOverrideKeys(), 0);
        fs::current_path(previousDir_);
        fs::remove_all(dir_);
    }

    void SetExecutableDirectory(const fs::path& directory) {
        TracePlatformHost::SetExecutablePath(
            TracePlatformHost::CorePath((directory / "Installer").string()));
    }
    void WriteFile(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    void Settings(const std::string& values) {
        WriteFile(dir_ / "TqDbgCfg.ini", "[OUTPUT]\n" + values);
    }
    void Overrides(const std::string& values) {
        WriteFile(dir_ / "user.reg", "[HKEY_CURRENT_USER\\XTrace]\n" + values);
    }
    std::string LogBytes() {
        std::ifstream in(dir_ / "12061858.log", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<fs::path> FilesIn(const fs::path& directory) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(directory)) {
            files.push_back(entry.path().filename());
        }
        return files;
    }

    fs::path dir_;
    fs::path previousDir_;
    std::vector<std::u16string> channel_;
};

constexpr char16_t kSample[] = u".\\Sample";

TEST_F(TraceTest, WorkedExampleReachesBothOutputs) {
    Settings("LOGFILE=1\nVIEW=1\nLEVEL=1\n");
    InitTrace();
    EXPECT_EQ(LogFileName, u"12061858.log");
    TraceOut(TraceSite{kSample, 7, 1}, u"uRet = %x", 13u);

    ASSERT_EQ(channel_.size(), 1u);
    EXPECT_EQ(channel_[0], u"             Sample(0007) : uRet = d\n");
    const unsigned char expected[] = {0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                                      0x20, 0x20, 0x20, 0x93, 0xA1, 0xAD, 0xB0, 0xAC, 0xA5, 0x68,
                                      0x70, 0x70, 0x70, 0x77, 0x69, 0x20, 0x7A, 0x20, 0xB5, 0x92,
                                      0xA5, 0xB4, 0x20, 0x7D, 0x20, 0xA4, 0x0D, 0x0A};
    EXPECT_EQ(LogBytes(), std::string(std::begin(expected), std::end(expected)));

    // Records append, and a relative and an absolute path give the same base name. Appending
    // to the file changes the thread's last error, but a record leaves the caller's in place.
    TracePlatform::SetThreadLastError(0x1234);
    TraceOut(TraceSite{u"C:\\work\\src\\Sample", 7, 1}, u"uRet = %x", 13u);
    EXPECT_EQ(TracePlatform::ThreadLastError(), 0x1234u);
    EXPECT_EQ(LogBytes().size(), 2 * sizeof(expected));
    EXPECT_EQ(channel_[1], channel_[0]);
}

TEST_F(TraceTest, WithoutSettingsNothingIsWrittenAnywhere) {
    InitTrace();
    TraceOut(TraceSite{kSample, 1, 2}, u"error");
    EXPECT_TRUE(LogFileName.empty());
    EXPECT_TRUE(channel_.empty());
    EXPECT_EQ(FilesIn(dir_), std::vector<fs::path>{});

    // Logging on with the default level: the name is fixed, but no record passes.
    Settings("LOGFILE=1\n");
    InitTrace();
    TraceOut(TraceSite{kSample, 1, 1}, u"progress");
    TraceOut(TraceSite{kSample, 2, 2}, u"error");
    EXPECT_EQ(LogFileName, u"12061858.log");
    EXPECT_FALSE(fs::exists(dir_ / "12061858.log"));
}

TEST_F(TraceTest, LevelFilterIsSignedAndSwitchesChooseTheOutputs) {
    auto levelsPassing = [&](const std::string& level) {
        Settings("VIEW=1\nLEVEL=" + level + "\n");
        InitTrace();
        channel_.clear();
        TraceOut(TraceSite{kSample, 1, 1}, u"one");
        TraceOut(TraceSite{kSample, 2, 2}, u"two");
        return channel_.size();
    };
    EXPECT_EQ(levelsPassing("3"), 0u);
    EXPECT_EQ(levelsPassing("2"), 1u);
    EXPECT_EQ(levelsPassing("1"), 2u);
    EXPECT_EQ(levelsPassing("0"), 2u);
    EXPECT_EQ(levelsPassing("-7"), 2u);

    // VIEW alone: plain lines, no log name and no file.
    EXPECT_TRUE(LogFileName.empty());
    EXPECT_EQ(FilesIn(dir_), std::vector<fs::path>{"TqDbgCfg.ini"});

    // LOGFILE alone: the file, not the channel.
    Settings("LOGFILE=5\nLEVEL=1\n");
    InitTrace();
    channel_.clear();
    TraceOut(TraceSite{kSample, 1, 1}, u"one");
    EXPECT_TRUE(channel_.empty());
    EXPECT_FALSE(LogBytes().empty());
}

TEST_F(TraceTest, OverridesReplaceFileValuesOneByOne) {
    Settings("LOGFILE=1\nVIEW=1\nLEVEL=2\n");
    Overrides("\"LEVEL\"=hex:01,02,03,84\n");
    InitTrace();
    EXPECT_EQ(TraceSettings.LOGFILE, 1);
    EXPECT_EQ(TraceSettings.VIEW, 1);
    EXPECT_EQ(TraceSettings.LEVEL, static_cast<int32_t>(0x84030201)); // little-endian, signed

    // An override of 0 switches logging off: no name, no file.
    Overrides("\"LOGFILE\"=dword:00000000\n");
    LogFileName.clear();
    InitTrace();
    EXPECT_EQ(TraceSettings.LOGFILE, 0);
    EXPECT_TRUE(LogFileName.empty());

    // A one-character string is four bytes of data: the character's code.
    Overrides("\"VIEW\"=\"1\"\n");
    InitTrace();
    EXPECT_EQ(TraceSettings.VIEW, 49);

    // Data of any other size never reaches a setting, not even in part.
    Overrides("\"LOGFILE\"=hex:07,00\n\"VIEW\"=hex:01,02,03,04,05,06,07,08\n\"LEVEL\"=\"\"\n");
    InitTrace();
    EXPECT_EQ(TraceSettings.LOGFILE, 1);
    EXPECT_EQ(TraceSettings.VIEW, 1);
    EXPECT_EQ(TraceSettings.LEVEL, 2);
}

TEST(ScrambleLine, ShiftsEverythingButSpacesUpToTheFirstLineFeed) {
    std::u16string line = u"09(): .\t\rA~ \x00FF\xFFC0\xFFFF\nkept";
    ScrambleLine(line.data());
    EXPECT_EQ(line, std::u16string(u"pyhiz n"
                                   u"IM\x0081\x00BE \x013F") +
                        std::u16string(1, u'\0') + u"\x003F\nkept");
}

TEST_F(TraceTest, LineFeedsAndWrapInsideMessages) {
    Settings("LOGFILE=1\nLEVEL=1\n");
    InitTrace();
    TraceOut(TraceSite{kSample, 1, 1}, u"abBuf = %x\n", 0xABu);
    TraceOut(TraceSite{kSample, 2, 1}, u"a\nb c");
    EXPECT_EQ(LogBytes(), std::string(13, ' ') +
                              "\x93\xA1\xAD\xB0\xAC\xA5hpppqi z \xA1\xA2\x82\xB5\xA6 } "
                              "\xA1\xA2\r\n\r\n" +
                              std::string(13, ' ') +
                              "\x93\xA1\xAD\xB0\xAC\xA5hpppri z \xA1\r\nb c\r\n");

    // Every line feed becomes CR LF, however many a record holds.
    fs::remove(dir_ / "12061858.log");
    TraceOut(TraceSite{kSample, 4, 1}, u"%s", std::u16string(3000, u'\n'));
    EXPECT_EQ(LogBytes().size(), 28 + 2 * 3001u); // the layout, then 3000 and its own

    // U+FFC0 scrambles to the terminator: the file gets the line only up to it.
    fs::remove(dir_ / "12061858.log");
    TraceOut(TraceSite{kSample, 3, 1}, u"x\xFFC0y");
    EXPECT_EQ(LogBytes(), std::string(13, ' ') + "\x93\xA1\xAD\xB0\xAC\xA5hpppsi z \xB8");
}

TEST_F(TraceTest, LongRecordsAreCutAt4095Characters) {
    Settings("LOGFILE=1\nVIEW=1\nLEVEL=1\n");
    InitTrace();
    const std::u16string longText(5000, u'w');
    // Pass 1 cuts the composed format; pass 2 cuts the finished line.
    TraceOut(TraceSite{kSample, 1, 1}, longText.c_str());
    TraceOut(TraceSite{kSample, 2, 1}, u"%s", longText);
    ASSERT_EQ(channel_.size(), 2u);
    for (const std::u16string& line : channel_) {
        EXPECT_EQ(line.size(), 4095u);
        EXPECT_NE(line.back(), u'\n');
    }
    // Without a line end both cut lines run together in the file, every character shifted.
    const std::string bytes = LogBytes();
    EXPECT_EQ(bytes.size(), 2 * 4095u);
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
    EXPECT_EQ(bytes.substr(4095 - 3, 17), "\xB7\xB7\xB7" + std::string(13, ' ') + "\x93");
}

TEST_F(TraceTest, BaseNamesAreFormatTextInTheSecondPass) {
    Settings("VIEW=1\nLEVEL=1\n");
    InitTrace();
    TraceOut(TraceSite{u".\\AVeryLongSourceFileName.cpp", 12345, 1}, u"m");
    TraceOut(TraceSite{u".\\odd%dname%s.cpp", 1, 1}, u"value %x", 26u);
    ASSERT_EQ(channel_.size(), 2u);
    EXPECT_EQ(channel_[0], u"AVeryLongSourceFileName.cpp(12345) : m\n");
    // The base name's "%d" takes the record's argument; the others have none and stay.
    EXPECT_EQ(channel_[1], u"    odd26name%s.cpp(0001) : value %x\n");
}

// Every file that traces names itself, and its name fits the 19 columns of the layout, so that
// all records stand in line.
TEST(TraceSites, EachNamesItsOwnFileWithinTheBaseNameField) {
    const std::string marker = "kTraceFile[] = u\".\\\\";
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(INSTALLER_SOURCE_DIR)) {
        if (entry.path().extension() != ".cpp") {
            continue;
        }
        std::ifstream in(entry.path());
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        const size_t at = text.find(marker);
        if (at == std::string::npos) {
            continue;
        }
        ++files;
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(text.substr(at + marker.size(), name.size() + 2), name + "\";") << entry.path();
        EXPECT_LE(name.size(), 19u) << entry.path();
    }
    EXPECT_GE(files, 8);
}

TEST_F(TraceTest, LogFileNameComesFromLocalStartTime) {
    EXPECT_EQ(MakeLogFileName(kStartTime), u"12061858.log");
    EXPECT_EQ(MakeLogFileName(0), u"01010000.log");
    setenv("TZ", "JST-9", 1);
    tzset();
    EXPECT_EQ(MakeLogFileName(kStartTime), u"12070358.log");
    EXPECT_EQ(MakeLogFileName(INT64_MAX), u"");
}

TEST_F(TraceTest, UnusablePathsLoseOnlyTheFileOutput) {
    // An executable path of 260 characters or more: no settings file, no log file, not even
    // one named from what part of the path there is (relative here, so it would land in dir_).
    TracePlatformHost::SetExecutablePath(std::u16string(300, u'd') + u"\\Installer");
    Overrides("\"LOGFILE\"=dword:00000001\n\"VIEW\"=dword:00000001\n\"LEVEL\"=dword:00000001\n");
    InitTrace();
    TraceOut(TraceSite{kSample, 1, 1}, u"still seen");
    EXPECT_EQ(channel_.size(), 1u);
    EXPECT_EQ(FilesIn(dir_), std::vector<fs::path>{"user.reg"});
    // A path without any folder, or none at all, names nothing either.
    for (const char16_t* executable : {u"Installer", u""}) {
        TracePlatformHost::SetExecutablePath(executable);
        InitTrace();
        TraceOut(TraceSite{kSample, 1, 1}, u"still seen");
    }
    EXPECT_EQ(channel_.size(), 3u);
    EXPECT_EQ(FilesIn(dir_), std::vector<fs::path>{"user.reg"});

    // The boundary: a settings or log path of 259 characters is used, one of 260 is not; the
    // same for the executable's own path. LEVEL comes only from the settings file.
    Overrides("\"LOGFILE\"=dword:00000001\n\"VIEW\"=dword:00000001\n");
    const std::u16string root = TracePlatformHost::CorePath(dir_.string()) + u"\\";
    for (const size_t length : {259u, 260u}) {
        const fs::path folder = dir_ / std::string(length - 12 - root.size() - 1, 'f');
        fs::create_directory(folder);
        WriteFile(folder / "TqDbgCfg.ini", "[OUTPUT]\nLEVEL=1\n");
        ASSERT_EQ(TracePlatformHost::CorePath((folder / "TqDbgCfg.ini").string()).size(), length);
        SetExecutableDirectory(folder);
        LogFileName.clear();
        InitTrace();
        TraceOut(TraceSite{kSample, 4, 3}, u"at the boundary");
        EXPECT_EQ(TraceSettings.LEVEL, length == 259 ? 1 : 3) << length;
        EXPECT_EQ(fs::exists(folder / "12061858.log"), length == 259) << length;

        const std::u16string executable = root + std::u16string(length - root.size(), u'x');
        ASSERT_EQ(executable.size(), length);
        TracePlatformHost::SetExecutablePath(executable);
        WriteFile(dir_ / "TqDbgCfg.ini", "[OUTPUT]\nLEVEL=1\n");
        InitTrace();
        TraceOut(TraceSite{kSample, 5, 3}, u"at the boundary");
        EXPECT_EQ(TraceSettings.LEVEL, length == 259 ? 1 : 3) << length;
        EXPECT_EQ(fs::exists(dir_ / "12061858.log"), length == 259) << length;
        fs::remove(dir_ / "TqDbgCfg.ini");
        fs::remove(dir_ / "12061858.log");
    }
    EXPECT_EQ(channel_.size(), 7u);
    channel_.clear();
    Overrides("\"LEVEL\"=dword:00000001\n\"LOGFILE\"=dword:00000001\n\"VIEW\"=dword:00000001\n");

    // A directory that is missing or not writable: the record is lost from the file only,
    // and the next record tries again.
    SetExecutableDirectory(dir_ / "missing");
    InitTrace();
    TraceOut(TraceSite{kSample, 2, 1}, u"lost");
    fs::create_directory(dir_ / "missing");
    TraceOut(TraceSite{kSample, 3, 1}, u"kept");
    EXPECT_EQ(channel_.size(), 2u);
    EXPECT_TRUE(fs::exists(dir_ / "missing" / "12061858.log"));
}

} // namespace
