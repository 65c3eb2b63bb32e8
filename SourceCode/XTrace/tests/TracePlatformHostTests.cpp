// The Linux stand-ins must behave like the Windows calls they replace, or the trace core is
// tested against the wrong contract.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "TracePlatform.h"
#include "TracePlatformHost.h"

namespace {

namespace fs = std::filesystem;
using namespace TracePlatform;
using TracePlatformHost::CorePath;

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class HostPlatform : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/xtrace-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        TracePlatformHost::ResetControls();
    }
    void TearDown() override {
        TracePlatformHost::ResetControls();
        fs::remove_all(dir_);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    int32_t Ini(const std::string& contents, const char16_t* section, const char16_t* key,
                int32_t defaultValue = 77) {
        const std::u16string path = CorePath(Write("TqDbgCfg.ini", contents));
        return ProfileInt(section, key, defaultValue, path.c_str());
    }

    std::string dir_;
};

TEST_F(HostPlatform, ProfileIntFallsBackToDefault) {
    const std::u16string missing = CorePath(dir_ + "/none.ini");
    EXPECT_EQ(ProfileInt(u"XTrace", u"VIEW", 77, missing.c_str()), 77);
    EXPECT_EQ(Ini("[Other]\nVIEW=1\n", u"XTrace", u"VIEW"), 77);
    EXPECT_EQ(Ini("[XTrace]\nLEVEL=1\n", u"XTrace", u"VIEW"), 77);
    EXPECT_EQ(Ini("VIEW=1\n[XTrace]\n", u"XTrace", u"VIEW"), 77); // before any section
    EXPECT_EQ(Ini("[XTrace]\nVIEW=\n", u"XTrace", u"VIEW"), 77);  // empty value
    EXPECT_EQ(Ini("[XTrace]\nVIEW\n", u"XTrace", u"VIEW"), 77);   // no '='
}

TEST_F(HostPlatform, ProfileIntMatchesNamesLoosely) {
    EXPECT_EQ(Ini("  [ xtrace ]  \r\n\t view \t=\t 5 \r\n", u"XTrace", u"VIEW"), 5);
    EXPECT_EQ(Ini("\xEF\xBB\xBF[XTrace]\nVIEW=6\n", u"XTrace", u"VIEW"), 6);
    EXPECT_EQ(Ini("[XTrace]\n;VIEW=1\n# VIEW=2\nVIEW=3\n", u"XTrace", u"VIEW"), 3);
}

TEST_F(HostPlatform, ProfileIntParsesDecimalPrefix) {
    const std::pair<const char*, int32_t> cases[] = {
        {"12abc", 12},
        {"-5", -5},
        {"+7", 7},
        {"abc", 0},
        {"0x10", 0},
        {"- 5", 0},
        {"4294967295", -1},
        {"4294967296", 0},
        {"2147483648", INT32_MIN},
        {"-2147483648", INT32_MIN},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(Ini(std::string("[S]\nK=") + value + "\n", u"S", u"K"), expected) << value;
    }
}

TEST_F(HostPlatform, ProfileIntTakesFirstSectionAndKey) {
    EXPECT_EQ(Ini("[S]\nK=1\nK=2\n", u"S", u"K"), 1);
    EXPECT_EQ(Ini("[S]\nA=1\n[T]\nK=3\n[s]\nK=2\n", u"S", u"K"), 77);
}

class OverrideStore : public HostPlatform {
  protected:
    // Opens a store holding `contents`; the handle is closed by TearDown.
    int32_t Open(const std::string& contents) {
        env_.emplace("XTRACE_USER_REGISTRY", Write("user.reg", contents).c_str());
        return OpenOverrideKey(&key_);
    }
    void TearDown() override {
        if (key_ != nullptr) {
            CloseOverrideKey(key_);
        }
        env_.reset();
        HostPlatform::TearDown();
    }
    std::optional<ScopedEnv> env_;
    KeyHandle key_ = nullptr;
};

// A later line for the same value wins, as in an import; the other keys come last so that a
// leak from them into the real key would show.
constexpr char kStore[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                          "[hkey_current_user\\xtrace]\r\n"
                          "\"VIEW\"=dword:00000007\r\n"
                          "\"view\"=dword:00000001\r\n"
                          "\"LEVEL\"=hex:ff,ff,ff,ff\r\n"
                          "\"LOGFILE\"=\"1\"\r\n"
                          "\"SHORT\"=hex:02\r\n"
                          "\"LONG\"=hex:01,02,03,04,\\\r\n  05,06\r\n"
                          "[HKEY_CURRENT_USER\\XTrace\\Sub]\r\n\"VIEW\"=dword:00000009\r\n"
                          "[HKEY_LOCAL_MACHINE\\XTrace]\r\n\"LEVEL\"=dword:00000009\r\n";

TEST_F(OverrideStore, ValuesComeAsWindowsStoresThem) {
    ASSERT_EQ(Open(kStore), 0);
    int32_t value = 0;
    uint32_t size = sizeof value;
    EXPECT_EQ(QueryOverride(key_, u"VIEW", reinterpret_cast<uint8_t*>(&value), &size), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(QueryOverride(key_, u"level", reinterpret_cast<uint8_t*>(&value), &size), 0);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(QueryOverride(key_, u"LOGFILE", reinterpret_cast<uint8_t*>(&value), &size), 0);
    EXPECT_EQ(value, 49); // '1', then the terminator
    EXPECT_EQ(size, 4u);
    value = 0x7F7F7F7F;
    EXPECT_EQ(QueryOverride(key_, u"SHORT", reinterpret_cast<uint8_t*>(&value), &size), 0);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(value, 0x7F7F7F02);
    size = 4;
    EXPECT_EQ(QueryOverride(key_, u"Missing", reinterpret_cast<uint8_t*>(&value), &size), 2);
}

TEST_F(OverrideStore, LargerValueReportsSizeAndSpoilsBuffer) {
    ASSERT_EQ(Open(kStore), 0);
    uint8_t data[4] = {};
    uint32_t size = sizeof data;
    EXPECT_EQ(QueryOverride(key_, u"LONG", data, &size), 234);
    EXPECT_EQ(size, 6u);
    for (uint8_t byte : data) {
        EXPECT_EQ(byte, 0xCD);
    }
    uint8_t whole[6] = {};
    EXPECT_EQ(QueryOverride(key_, u"LONG", whole, &size), 0);
    EXPECT_EQ(whole[5], 6);
}

TEST_F(OverrideStore, OnlyTheExactKeyOpens) {
    EXPECT_EQ(Open("[HKEY_CURRENT_USER\\XTrace\\Sub]\n\"VIEW\"=dword:1\n"
                   "[HKEY_LOCAL_MACHINE\\XTrace]\n\"VIEW\"=dword:1\n"),
              2);
    EXPECT_EQ(key_, nullptr);
    ScopedEnv none("XTRACE_USER_REGISTRY", (dir_ + "/missing.reg").c_str());
    EXPECT_EQ(OpenOverrideKey(&key_), 2);
}

TEST_F(HostPlatform, OverrideStoreDefaultsToUserConfig) {
    ScopedEnv store("XTRACE_USER_REGISTRY", nullptr);
    ScopedEnv home("HOME", "/home/u");
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(TracePlatformHost::OverrideStorePath(), "/cfg/Installer/user.reg");
    }
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(TracePlatformHost::OverrideStorePath(), "/home/u/.config/Installer/user.reg");
}

TEST_F(HostPlatform, ExecutablePathFollowsModuleFileNameRules) {
    char16_t buffer[400];
    const uint32_t length = ExecutablePath(buffer, 400);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(TracePlatformHost::HostPath(buffer), fs::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(std::u16string(buffer).find(u'/'), std::u16string::npos);

    const std::u16string longPath = u"\\" + std::u16string(294, u'd') + u"\\a.exe"; // 301 chars
    TracePlatformHost::SetExecutablePath(longPath.substr(0, 300));
    EXPECT_EQ(ExecutablePath(buffer, 301), 300u);
    EXPECT_EQ(std::u16string(buffer), longPath.substr(0, 300));
    EXPECT_EQ(ExecutablePath(buffer, 300), 300u); // no room for the terminator
    EXPECT_EQ(std::u16string(buffer), longPath.substr(0, 299));
    buffer[260] = u'#';
    EXPECT_EQ(ExecutablePath(buffer, 260), 260u);
    EXPECT_EQ(std::u16string(buffer), longPath.substr(0, 259));
    EXPECT_EQ(buffer[260], u'#') << "wrote past the buffer";

    TracePlatformHost::SetExecutablePath(u"");
    EXPECT_EQ(ExecutablePath(buffer, 400), 0u);
}

TEST_F(HostPlatform, DebugChannelGoesToCaptureOrChosenFile) {
    const std::string file = dir_ + "/channel.txt";
    ScopedEnv channel("XTRACE_DEBUG_CHANNEL", file.c_str());
    std::vector<std::u16string> lines;
    TracePlatformHost::CaptureDebugChannel(&lines);
    DebugChannelWrite(u"one");
    DebugChannelWrite(u"two\r\n");
    EXPECT_EQ(lines, (std::vector<std::u16string>{u"one", u"two\r\n"}));
    EXPECT_FALSE(fs::exists(file));

    TracePlatformHost::CaptureDebugChannel(nullptr);
    DebugChannelWrite(u"caf\u00e9 \U0001F600");
    DebugChannelWrite(u"end\n");
    EXPECT_EQ(Read(file), "caf\xC3\xA9 \xF0\x9F\x98\x80\nend\n");
}

} // namespace
