#include "LogicTestSupport.h"

#include <cstdlib>
#include <fstream>

#include "AppFrameworkHost.h"
#include "TracePlatformHost.h"
#include "XTrace.h"

namespace fs = std::filesystem;

void LogicTest::SetUp() {
    char pattern[] = "/tmp/installer-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    std::ofstream(dir_ / "TqDbgCfg.ini") << "[OUTPUT]\nVIEW=1\nLEVEL=1\n";
    setenv("XTRACE_USER_REGISTRY", (dir_ / "no-overrides.reg").c_str(), 1);
    TracePlatformHost::SetExecutablePath(
        TracePlatformHost::CorePath((dir_ / "Installer").string()));
    TracePlatformHost::CaptureDebugChannel(&lines_);
    LogFileName.clear();
    InitTrace();
    AppFrameworkHostReset();
    UseDevices({});
}

void LogicTest::TearDown() {
    EXPECT_EQ(DevSim::OpenSets(), 0) << "a device information set was not destroyed";
    EXPECT_EQ(DevSim::LiveBuffers(), 0) << "an ID buffer was not released";
    TracePlatformHost::ResetControls();
    TraceSettings = {0, 0, 3};
    LogFileName.clear();
    unsetenv("XTRACE_USER_REGISTRY");
    fs::remove_all(dir_);
}

void LogicTest::UseDevices(std::vector<DevSim::Device> devices) {
    DevSim::Machine machine;
    machine.devices = std::move(devices);
    machine.driverStore = StoreDir().string();
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
    lines_.clear();
    return messages;
}

std::u16string LogicTest::MakeInf(const std::string& name) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << "[Version]\nSignature=\"$Windows NT$\"\nClass=USB\n";
    return TracePlatformHost::FromUtf8(path.string());
}

uint32_t FlagsOf(const DevSim::Device& device) {
    if (!device.configFlags || device.configFlags->size() < 4) {
        return 0xDEADBEEF;
    }
    const std::vector<uint8_t>& b = *device.configFlags;
    return static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
}
