// Shared fixture of InstallerRemove's tests: a simulated machine (LogicTest's), the INF, the
// installation run on the machine, and the report's fixed parts.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "DeviceServices.h"
#include "LogicTestSupport.h"
#include "RemoveCommand.h"
#include "Sequence.h"
#include "TracePlatformHost.h"
#include "XTrace.h"

inline std::string Narrow(const std::u16string& text) {
    return TracePlatformHost::ToUtf8(text);
}

inline bool Has(const CommandResult& result, const std::string& text) {
    return Narrow(result.out).find(text) != std::string::npos;
}

inline uint32_t StateChangingCalls() {
    using DevSim::Op;
    return DevSim::Calls(Op::SetProperty) + DevSim::Calls(Op::Update) + DevSim::Calls(Op::Copy) +
           DevSim::Calls(Op::Uninstall) + DevSim::Calls(Op::UninstallInf);
}

class RemoveTest : public LogicTest {
  protected:
    void SetUp() override {
        LogicTest::SetUp();
        // Neither companion starts the trace: its settings stay as at program load.
        TraceSettings = {0, 0, 3};
        inf_ = MakeInf();
    }
    void TearDown() override {
        EXPECT_TRUE(lines_.empty()) << "a companion wrote a trace record";
        LogicTest::TearDown();
    }

    CommandResult Remove(std::vector<std::u16string> options = {}) {
        options.push_back(u"USB\\VID_1234&PID_5678");
        options.push_back(inf_);
        return RunRemove(options);
    }
    CommandResult Verify(const char16_t* form = u"--json") {
        return RunCheck({u"verify", form, kIdShort, inf_});
    }
    // A machine of `devices`, with the installation run on it (the trace off).
    // The counters start again afterwards.
    void Installed(std::vector<DevSim::Device> devices) {
        UseDevices(std::move(devices));
        RunInstallation(kIdShort, inf_.c_str());
        UseDevices(DevSim::Current().devices);
    }
    std::vector<std::string> Store() const {
        std::vector<std::string> names;
        if (std::filesystem::exists(StoreDir())) {
            for (const auto& entry : std::filesystem::directory_iterator(StoreDir())) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The report's first line and the folder its copies are named in.
    std::string Header(const char* command = "remove") const {
        return std::string(command) + " for hardware ID \"usb\\vid_1234&pid_5678\" (given as " +
               "\"USB\\VID_1234&PID_5678\"), " + (kPrefixRule ? "prefix" : "equality") +
               " rule, INF \"" + Narrow(inf_) + "\"\n";
    }
    std::string Copy(const char* name = "oem0.inf") const {
        return "copy " + std::filesystem::absolute(StoreDir()).lexically_normal().string() + "\\" +
               name + ": ";
    }
    DevSim::Device& Device(size_t i) { return DevSim::Current().devices[i]; }

    std::u16string inf_;
};
