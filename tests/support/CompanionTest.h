// The one fixture of the companions' tests (InstallerCheck's and InstallerRemove's): a simulated
// machine (LogicTest's), the INF, the installation itself to bring a machine into the installed
// state, and a check run that fails the test when it changed anything.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "DeviceSimulator.h"
#include "LogicTestSupport.h"
#include "Sequence.h"
#include "Utf8.h"
#include "XTrace.h"

inline std::string Narrow(const std::u16string& text) {
    return Text::Utf16ToUtf8(text);
}

// Every call of the simulator's that changes the device state.
inline uint32_t StateChangingCalls() {
    using DevSim::Op;
    return DevSim::Calls(Op::SetProperty) + DevSim::Calls(Op::Update) + DevSim::Calls(Op::Copy) +
           DevSim::Calls(Op::Uninstall) + DevSim::Calls(Op::UninstallInf);
}

class CompanionTest : public LogicTest {
  protected:
    void SetUp() override {
        LogicTest::SetUp();
        // Neither companion starts the trace: its settings stay as at program load.
        TraceSettings = {0, 0, 3};
        inf_ = MakeInf();
    }
    void TearDown() override {
        EXPECT_TRUE(lines_.empty()) << "a companion wrote a trace record";
        unsetenv("INSTALLER_SIMULATE_WOW64");
        LogicTest::TearDown();
    }

    // InstallerCheck with these arguments; the test fails when it changed the device state or
    // so much as called an operation that changes it.
    CommandResult Check(const std::vector<std::u16string>& arguments) {
        const std::vector<DevSim::Device> before = DevSim::Current().devices;
        const uint32_t changes = StateChangingCalls();
        CommandResult result = RunCheck(arguments);
        EXPECT_EQ(DevSim::Current().devices, before) << "the check changed the device state";
        EXPECT_EQ(StateChangingCalls(), changes)
            << "the check called an operation that changes state";
        return result;
    }
    CommandResult Verify(const std::u16string& id, const std::u16string& option = {}) {
        return option.empty() ? Check({u"verify", id, inf_}) : Check({u"verify", option, id, inf_});
    }
    // Runs the installation itself, with the trace off.
    void Install(const std::u16string& id) { RunInstallation(id, inf_.c_str()); }
    // A machine of `devices` with the installation run on it; the counters start again after it.
    void Installed(std::vector<DevSim::Device> devices) {
        UseDevices(std::move(devices));
        Install(kIdShort);
        UseDevices(DevSim::Current().devices);
    }
    DevSim::Device& Device(size_t i) { return DevSim::Current().devices[i]; }
    // The name of the folder the reports name staged copies in.
    std::string StoreName() const {
        return std::filesystem::absolute(StoreDir()).lexically_normal().string();
    }
    // A report's first line for `command` and the request USB\VID_1234&PID_5678 with inf_.
    std::string Header(const char* command) const {
        return std::string(command) + " for hardware ID \"usb\\vid_1234&pid_5678\" (given as " +
               "\"USB\\VID_1234&PID_5678\"), " + (kPrefixRule ? "prefix" : "equality") +
               " rule, INF \"" + Narrow(inf_) + "\"\n";
    }

    std::u16string inf_;
};
