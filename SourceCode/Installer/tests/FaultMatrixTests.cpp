// Whole installation runs on a simulated machine, failing one platform operation at one call
// site at a time, for every call site a clean run reaches.
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "DeviceServices.h"
#include "Entry.h"
#include "LogicTestSupport.h"
#include "Sequence.h"
#include "XTrace.h"

using DevSim::MakeDevice;
using DevSim::Op;

namespace {

struct Scenario {
    const char* name;
    bool withPresentDevice;
};

const Scenario kScenarios[] = {{"present", true}, {"absent", false}};

// P: present, A1/A2: absent with the ID, O: absent with another ID. The present device exists
// only in the "present" scenario, so that the other one stages the INF.
std::vector<DevSim::Device> Devices(const Scenario& scenario) {
    std::vector<DevSim::Device> devices = {
        MakeDevice(u"ROOT\\A1\\0000", {kIdOther, kIdShort}, false, 0x00010004),
        MakeDevice(u"ROOT\\O\\0000", {kIdOther}, false, 0x4),
        MakeDevice(u"ROOT\\A2\\0000", {kIdShort}, false, 0x0)};
    if (scenario.withPresentDevice) {
        devices.insert(devices.begin() + 1, MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true, 0x0));
    }
    return devices;
}

struct FaultCase {
    int scenario;
    Op op;
    uint32_t call;
};

// The error code each operation fails with. For the node status it is a CONFIGRET other than
// "no such device instance", which must leave the device alone. A function that cannot be
// loaded from the system folder fails with ERROR_MOD_NOT_FOUND.
uint32_t ErrorFor(Op op) {
    switch (op) {
    case Op::NodeStatus:
        return 0x13; // CR_FAILURE
    case Op::Alloc:
        return 8;
    case Op::Bind:
        return 0x7E;
    default:
        return 0x1F; // ERROR_GEN_FAILURE
    }
}

// The error records a failure of `op` may lead to; the first is the one it must lead to
// (none for the operations whose failure is not an error to the logic).
std::vector<std::u16string> RecordsFor(Op op) {
    const std::u16string propertyFail =
        u"SetupDiGetDeviceRegistryProperty fail = 1f XXXXXXXXXXXXXXXXXXXX";
    switch (op) {
    case Op::GetClassDevs:
        return {u"DeviceInfoSet == INVALID_HANDLE_VALUE", u"Install driver fail! xxxxxxxxxxx",
                u"nDevStatus = ffffffff", u"Reinstall error!"};
    case Op::GetProperty:
        return {propertyFail, u"SetupDiGetDeviceRegistryProperty XXXXXXXXXX!!",
                u"Reinstall error!"};
    case Op::SetProperty:
        return {u"Set Device Registry Property error!!", u"Reinstall error!"};
    case Op::Destroy:
        return {u"SetupDiDestroyDeviceInfoList failed!"};
    case Op::Update:
        return {u"InstallDriver, err = 1f. "};
    case Op::Bind:
        return {u"InstallDriver, err = 7e. "};
    case Op::Copy:
        return {u"OemCopylINF Error = 1f"};
    case Op::Alloc:
        return {u"new szbuf fail = 8 XXXXXXXXXXXXXXXXXXXX",
                u"new abBuf fail = 8 XXXXXXXXXXXXXXXXXXXX"};
    default:
        return {};
    }
}

// A failing enumeration ends a walk as its end does, and a node state that cannot be read,
// the function included, leaves the device alone. The driver update that cannot be loaded (the
// first bound call, in the scenario with a present device) is an error.
bool MustReport(const FaultCase& fault) {
    if (fault.op == Op::Bind) {
        return kScenarios[fault.scenario].withPresentDevice && fault.call == 1;
    }
    return fault.op != Op::Enum && fault.op != Op::NodeStatus;
}

std::vector<FaultCase> AllCallSites() {
    std::vector<FaultCase> cases;
    for (int s = 0; s < 2; ++s) {
        DevSim::Machine machine;
        machine.devices = Devices(kScenarios[s]);
        machine.driverStore = "/nonexistent-store"; // a clean count needs no real store
        DevSim::UseMachine(machine);
        RunInstallation(kIdShort, u"/nonexistent.inf");
        for (int op = 0; op < static_cast<int>(Op::Count); ++op) {
            for (uint32_t call = 1; call <= DevSim::Calls(static_cast<Op>(op)); ++call) {
                cases.push_back({s, static_cast<Op>(op), call});
            }
        }
    }
    return cases;
}

class FaultMatrix : public LogicTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrix, FailureIsReportedAndLeavesOnlyAllowedChanges) {
    const FaultCase& fault = GetParam();
    const std::vector<DevSim::Device> before = Devices(kScenarios[fault.scenario]);
    UseDevices(before);
    DevSim::AddFault(Fail(fault.op, fault.call, ErrorFor(fault.op)));
    std::ofstream(dir_ / "TqDbgCfg.ini") << "[OUTPUT]\nVIEW=1\nLEVEL=2\n"; // errors only
    const std::u16string inf = MakeInf();
    const char16_t* argv[] = {u"Installer", kIdShort.c_str(), inf.c_str(), nullptr};
    EXPECT_EQ(Installer::_tmain(3, argv), 0);

    // Every error record belongs to this failure; the one it must cause is there.
    const std::vector<std::u16string> allowed = RecordsFor(fault.op);
    const std::vector<std::u16string> records = TakeMessages();
    for (const std::u16string& record : records) {
        const bool renew = record.starts_with(u"ERROR_INSUFFICIENT_BUFFER");
        EXPECT_TRUE(renew || std::find(allowed.begin(), allowed.end(), record) != allowed.end())
            << std::string(record.begin(), record.end());
    }
    if (MustReport(fault)) {
        EXPECT_TRUE(std::any_of(allowed.begin(), allowed.end(), [&](const std::u16string& a) {
            return std::find(records.begin(), records.end(), a) != records.end();
        }));
    }

    // Only the absent devices with the ID may gain the reinstall flag, and nothing else
    // changes but the present device's driver. A failure that stops the marking keeps the
    // devices marked before it and reaches none after it.
    const bool stopsMarking = std::any_of(records.begin(), records.end(), [](const auto& r) {
        return r == u"Set Device Registry Property error!!" ||
               r == u"SetupDiGetDeviceRegistryProperty XXXXXXXXXX!!";
    });
    const std::vector<DevSim::Device>& after = DevSim::Current().devices;
    ASSERT_EQ(after.size(), before.size());
    bool earlierUnmarked = false;
    for (size_t i = 0; i < after.size(); ++i) {
        const bool candidate = !before[i].present && before[i].instanceId != u"ROOT\\O\\0000";
        const uint32_t was = FlagsOf(before[i]);
        const uint32_t now = FlagsOf(after[i]);
        if (candidate && now == (was | DevSvc::CONFIGFLAG_REINSTALL)) {
            EXPECT_FALSE(stopsMarking && earlierUnmarked) << "marked after the failure";
        } else {
            EXPECT_EQ(now, was) << i;
            earlierUnmarked = earlierUnmarked || candidate;
        }
        if (!before[i].present) {
            EXPECT_EQ(after[i].driver, before[i].driver);
        }
        EXPECT_EQ(after[i].hardwareIds, before[i].hardwareIds);
    }
    if (stopsMarking) {
        EXPECT_TRUE(earlierUnmarked) << "a failed marking must leave a device unmarked";
    }
}

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) {
    return std::string(kScenarios[info.param.scenario].name) + "_" + DevSim::OpName(info.param.op) +
           "_" + std::to_string(info.param.call);
}

INSTANTIATE_TEST_SUITE_P(EveryCallSite, FaultMatrix, ::testing::ValuesIn(AllCallSites()),
                         [](const auto& info) {
                             std::string name = CaseName(info);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
