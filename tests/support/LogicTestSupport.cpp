#include "LogicTestSupport.h"

#include "PackageTable.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "AppFrameworkHost.h"
#include "TracePlatformHost.h"
#include "XTrace.h"

namespace fs = std::filesystem;

namespace {

struct Catalogued {
    const char16_t* format;
    const char16_t* baseName;
    int level; // 1 progress, 2 error
};

// Every record the installation logic makes: where it comes from and whether it is an error.
constexpr Catalogued kRecords[] = {
    {u"argc =%d", u"Entry.cpp", 1},
    {u"csHwID =%s", u"Entry.cpp", 1},
    {u"pInfFullName =%s", u"Entry.cpp", 1},
    {u"_tmain==> Parameter not correct!", u"Entry.cpp", 2},
    {u"Fatal Error: MFC initialization failed\n", u"Entry.cpp", 2},
    {u"Install driver fail! xxxxxxxxxxx", u"Sequence.cpp", 2},
    {u"nDevStatus = %x", u"Sequence.cpp", 2},
    {u"Reinstall error!", u"Sequence.cpp", 2},
    {u"DEVICE_UNPLUG", u"DeviceStatus.cpp", 1},
    {u"DEVICE_EXIST_AND_PLUG", u"DeviceStatus.cpp", 1},
    {u"DEVICE_EXIST", u"DeviceStatus.cpp", 1},
    {u"UpdateDriver SUCCEED. ", u"DriverActions.cpp", 1},
    {u"InstallDriver, err = %x. ", u"DriverActions.cpp", 2},
    {u"Copy inf file ===>", u"DriverActions.cpp", 1},
    {u"OemCopylINF Error = %x", u"DriverActions.cpp", 2},
    {u"SetupDiDestroyDeviceInfoList failed!", u"HwIdWalk.cpp", 2},
    {u"DeviceInfoSet == INVALID_HANDLE_VALUE", u"HwIdWalk.cpp", 2},
    {u"In Loop find SetupDiEnumDeviceInfo i=%x", u"HwIdWalk.cpp", 1},
    {u"new szbuf fail = %x XXXXXXXXXXXXXXXXXXXX", u"HwIdWalk.cpp", 2},
    {u"new abBuf fail = %x XXXXXXXXXXXXXXXXXXXX", u"HwIdWalk.cpp", 2},
    {u"SetupDiGetDeviceRegistryProperty OK!!!", u"HwIdWalk.cpp", 1},
    {u"SetupDiGetDeviceRegistryProperty fail = %x XXXXXXXXXXXXXXXXXXXX", u"HwIdWalk.cpp", 2},
    {u"ERROR_INSUFFICIENT_BUFFER, renew buffer and SetupDiGetDeviceRegistryProperty again!",
     u"HwIdWalk.cpp", 2},
    {u"Renew szbuf fail = %x XXXXXXXXXXXXXXXXXXXX", u"HwIdWalk.cpp", 2},
    {u"Renew abBuf fail = %x XXXXXXXXXXXXXXXXXXXX", u"HwIdWalk.cpp", 2},
    {u"FOUND!!! HwID = %s", u"HwIdWalk.cpp", 1},
    {u"Next HwID = %s", u"HwIdWalk.cpp", 1},
    {u"cs = %s", u"MatchPrefix.cpp", 1},
    {u"cs.Find(%s) = %d", u"MatchPrefix.cpp", 1},
    {u"===> ENTER Reinstall", u"Reinstall.cpp", 1},
    {u"uStatus = %x", u"Reinstall.cpp", 1},
    {u"nProblemNumber = %x", u"Reinstall.cpp", 1},
    {u"uRet = %x", u"Reinstall.cpp", 1},
    {u"SetupDiGetDeviceRegistryProperty XXXXXXXXXX!!", u"Reinstall.cpp", 2},
    {u"abBuf = %x\n", u"Reinstall.cpp", 1},
    {u"pSetbuf = %x\n", u"Reinstall.cpp", 1},
    {u"*pSetbuf = %x", u"Reinstall.cpp", 1},
    {u"Set Device Registry Property error!!", u"Reinstall.cpp", 2},
};

size_t observedRecords = 0;

// Checks one record against the catalogue and the line layout "%19s(%04d) : %s\n".
void CheckRecord(const TraceSite& site, const char16_t* format, const char16_t* line) {
    ++observedRecords;
    const std::u16string text = format != nullptr ? format : u"(none)";
    const auto* entry = std::find_if(std::begin(kRecords), std::end(kRecords),
                                     [&](const Catalogued& r) { return text == r.format; });
    if (entry == std::end(kRecords)) {
        ADD_FAILURE() << "record not in the catalogue: " << TracePlatformHost::ToUtf8(text);
        return;
    }
    const std::u16string path = site.sourcePath != nullptr ? site.sourcePath : u"";
    EXPECT_EQ(TracePlatformHost::ToUtf8(path),
              TracePlatformHost::ToUtf8(u".\\") + TracePlatformHost::ToUtf8(entry->baseName))
        << TracePlatformHost::ToUtf8(text);
    EXPECT_EQ(site.level, entry->level) << TracePlatformHost::ToUtf8(text);

    std::u16string base = entry->baseName;
    std::string number = std::to_string(site.line);
    number.insert(0, number.size() < 4 ? 4 - number.size() : 0, '0');
    const std::u16string layout = std::u16string(19 - std::min<size_t>(base.size(), 19), u' ') +
                                  base + u"(" + std::u16string(number.begin(), number.end()) +
                                  u") : ";
    const std::u16string whole = line;
    EXPECT_TRUE(whole.starts_with(layout) && whole.ends_with(u"\n"))
        << TracePlatformHost::ToUtf8(whole);
}

} // namespace

void LogicTest::SetUp() {
    char pattern[] = "/tmp/installer-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    std::ofstream(dir_ / "TqDbgCfg.ini") << "[OUTPUT]\nVIEW=1\nLEVEL=1\n";
    setenv("XTRACE_USER_REGISTRY", (dir_ / "no-overrides.reg").c_str(), 1);
    TracePlatformHost::SetExecutablePath(
        TracePlatformHost::CorePath((dir_ / "Installer").string()));
    TracePlatformHost::CaptureDebugChannel(&lines_);
    TraceObserver = CheckRecord;
    observedRecords = 0;
    LogFileName.clear();
    InitTrace();
    AppFrameworkHostReset();
    UseDevices({});
}

void LogicTest::TearDown() {
    EXPECT_EQ(DevSim::OpenSets(), 0) << "a device information set was not destroyed";
    EXPECT_EQ(DevSim::LiveBuffers(), 0) << "an ID buffer was not released";
    EXPECT_EQ(DevSim::OverlongOffers(), 0) << "an ID buffer was offered beyond its block";
    EXPECT_LE(DevSim::PeakLiveBuffers(), 1) << "a lookup held two ID buffers at once";
    EXPECT_EQ(observedRecords, lines_.size()) << "a record went out unseen";
    TraceObserver = nullptr;
    TracePlatformHost::ResetControls();
    TraceSettings = {0, 0, 3};
    LogFileName.clear();
    unsetenv("XTRACE_USER_REGISTRY");
    fs::remove_all(dir_);
}

void LogicTest::UseDevices(std::vector<DevSim::Device> devices) {
    // Counters start again with the new machine: what the last one saw must be clean.
    EXPECT_EQ(DevSim::OverlongOffers(), 0) << "an ID buffer was offered beyond its block";
    EXPECT_LE(DevSim::PeakLiveBuffers(), 1) << "a lookup held two ID buffers at once";
    DevSim::Machine machine;
    machine.devices = std::move(devices);
    machine.driverStore = StoreDir().string();
    // Every simulated machine trusts the test PKI's root and its publisher (SigningTools.h makes
    // them when a test signs a catalog), as a machine prepared for signed packages does.
    machine.roots = {INSTALLER_TEST_PKI_DIR "/root.pem"};
    machine.trustedPublishers = {INSTALLER_TEST_PKI_DIR "/publisher.pem"};
    // The store on disk stays, and with it the packages whose INFs it still holds.
    for (const DevSim::StagedPackage& package : DevSim::Current().packages) {
        if (fs::exists(StoreDir() / DevSim::ToUtf8(package.name))) {
            machine.packages.push_back(package);
        }
    }
    DevSim::UseMachine(std::move(machine));
}

void LogicTest::TraceLevel(int level) {
    TraceSettings.LEVEL = level;
}

std::vector<std::u16string> LogicTest::TakeMessages() {
    std::vector<std::u16string> messages;
    for (const std::u16string& line : lines_) {
        const size_t start = line.find(u") : ");
        std::u16string message = start == std::u16string::npos ? line : line.substr(start + 4);
        if (!message.empty() && message.back() == u'\n') {
            message.pop_back();
        }
        messages.push_back(message);
    }
    EXPECT_EQ(observedRecords, lines_.size()) << "a record went out unseen";
    observedRecords = 0;
    lines_.clear();
    return messages;
}

std::u16string LogicTest::MakeInf(const std::string& name) {
    const fs::path path = dir_ / name;
    // The complete package of the shared table, so that the simulator installs it.
    const PackageTable::Package& complete = PackageTable::Packages().front();
    PackageTable::Write(complete, dir_);
    fs::rename(dir_ / "pkg.inf", path);
    return TracePlatformHost::FromUtf8(path.string());
}

uint32_t FlagsOf(const DevSim::Device& device) {
    if (!device.configFlags || device.configFlags->size() < 4) {
        return 0xDEADBEEF;
    }
    const std::vector<uint8_t>& b = *device.configFlags;
    return static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
}
