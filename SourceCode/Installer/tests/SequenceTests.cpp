#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "DriverActions.h"
#include "LocalClockHost.h"
#include "LogicTestSupport.h"
#include "SafeFileHost.h"
#include "Sequence.h"
#include "TracePlatformHost.h"
#include "XTrace.h"

using DevSim::MakeDevice;
using DevSim::Op;
using Messages = std::vector<std::u16string>;

namespace {

class SequenceTest : public LogicTest {
  protected:
    // The records that mark the sequence's steps, in order.
    Messages Steps() {
        static const std::u16string kSteps[] = {
            u"DEVICE_EXIST_AND_PLUG", u"DEVICE_UNPLUG",
            u"DEVICE_EXIST",          u"UpdateDriver SUCCEED. ",
            u"Copy inf file ===>",    u"===> ENTER Reinstall",
            u"Reinstall error!",      u"Install driver fail! xxxxxxxxxxx",
            u"nDevStatus = ffffffff"};
        Messages steps;
        for (const std::u16string& m : TakeMessages()) {
            if (std::find(std::begin(kSteps), std::end(kSteps), m) != std::end(kSteps) ||
                m.starts_with(u"InstallDriver, err") || m.starts_with(u"OemCopylINF") ||
                m.starts_with(u"*pSetbuf")) {
                steps.push_back(m);
            }
        }
        return steps;
    }
    std::vector<std::filesystem::path> Staged() {
        std::vector<std::filesystem::path> names;
        if (std::filesystem::exists(StoreDir())) {
            for (const auto& entry : std::filesystem::directory_iterator(StoreDir())) {
                names.push_back(entry.path().filename());
            }
        }
        return names;
    }
};

TEST_F(SequenceTest, PresentDeviceGetsTheDriverAndStaysUnmarked) {
    UseDevices({MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true, 0)});
    RunInstallation(kIdShort, MakeInf().c_str());
    EXPECT_EQ(Steps(), (Messages{u"DEVICE_EXIST_AND_PLUG", u"UpdateDriver SUCCEED. ",
                                 u"DEVICE_EXIST", u"===> ENTER Reinstall"}));
    EXPECT_FALSE(DevSim::Current().devices[0].driver.empty());
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[0]), 0u);
}

TEST_F(SequenceTest, NoDeviceStagesTheInfAndStops) {
    UseDevices({MakeDevice(u"ROOT\\O\\0000", {kIdOther}, false, 0)});
    RunInstallation(kIdShort, MakeInf().c_str());
    EXPECT_EQ(Steps(), (Messages{u"DEVICE_UNPLUG", u"Copy inf file ===>", u"DEVICE_UNPLUG"}));
    // One copy, and the record of the INF's own name beside it.
    std::vector<std::filesystem::path> staged = Staged();
    std::sort(staged.begin(), staged.end());
    EXPECT_EQ(staged, (std::vector<std::filesystem::path>{"oem0.inf", "oem0.pnf"}));
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[0]), 0u);

    // An empty ID, what a script with an unset variable sends, is no device's: the same.
    UseDevices({MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true, 0),
                MakeDevice(u"ROOT\\A\\0000", {kIdOther}, false, 0)});
    RunInstallation(u"", MakeInf().c_str());
    EXPECT_EQ(Steps(), (Messages{u"DEVICE_UNPLUG", u"Copy inf file ===>", u"DEVICE_UNPLUG"}));
    EXPECT_EQ(DevSim::Calls(Op::Update), 0u);
    EXPECT_EQ(DevSim::Calls(Op::Copy), 1u);
    EXPECT_TRUE(DevSim::Current().devices[0].driver.empty());
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[1]), 0u);
}

TEST_F(SequenceTest, AbsentDevicesAreMarkedAfterEitherAction) {
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0)});
    RunInstallation(kIdShort, MakeInf().c_str());
    EXPECT_EQ(Steps(), (Messages{u"DEVICE_UNPLUG", u"Copy inf file ===>", u"DEVICE_EXIST",
                                 u"===> ENTER Reinstall", u"*pSetbuf = 20"}));

    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0),
                MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true, 0)});
    RunInstallation(kIdShort, MakeInf().c_str());
    EXPECT_EQ(Steps(), (Messages{u"DEVICE_EXIST_AND_PLUG", u"UpdateDriver SUCCEED. ",
                                 u"DEVICE_EXIST", u"===> ENTER Reinstall", u"*pSetbuf = 20"}));
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[0]), 0x20u);
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[1]), 0u);
    EXPECT_TRUE(DevSim::Current().devices[0].driver.empty());
    EXPECT_FALSE(DevSim::Current().devices[1].driver.empty());
}

TEST_F(SequenceTest, HardwareIdIsLowerCasedForEveryStep) {
    // The prefix rule only ever matches a lower-case request, so this fails there unless the
    // sequence lower-cases the ID before the lookups.
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0),
                MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true, 0)});
    RunInstallation(u"Usb\\Vid_1234&PID_5678", MakeInf().c_str());
    EXPECT_EQ(Steps(), (Messages{u"DEVICE_EXIST_AND_PLUG", u"UpdateDriver SUCCEED. ",
                                 u"DEVICE_EXIST", u"===> ENTER Reinstall", u"*pSetbuf = 20"}));
}

TEST_F(SequenceTest, FailedActionsStillLeadToTheFollowUp) {
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0)});
    RunInstallation(kIdShort, u"/nonexistent/driver.inf");
    EXPECT_EQ(Steps(), (Messages{u"DEVICE_UNPLUG", u"Copy inf file ===>", u"OemCopylINF Error = 2",
                                 u"DEVICE_EXIST", u"===> ENTER Reinstall", u"*pSetbuf = 20"}));

    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0),
                MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true, 0)});
    DevSim::AddFault(Fail(Op::Update, 1, 1));
    RunInstallation(kIdShort, MakeInf().c_str());
    EXPECT_EQ(Steps(), (Messages{u"DEVICE_EXIST_AND_PLUG", u"InstallDriver, err = 1. ",
                                 u"DEVICE_EXIST", u"===> ENTER Reinstall", u"*pSetbuf = 20"}));

    // A failure whose code is 1 is not reported as success.
    UseDevices({MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true, 0)});
    DevSim::AddFault(Fail(Op::Update, 1, 1));
    EXPECT_NE(InstallDriver(kIdShort, MakeInf().c_str()), 1);
    EXPECT_EQ(InstallDriver(kIdShort, u"/nonexistent/driver.inf"), 2);
    EXPECT_EQ(InstallDriver(kIdShort, MakeInf().c_str()), 1);
    EXPECT_EQ(CopyOemInf(MakeInf().c_str()), 1);
    EXPECT_EQ(CopyOemInf(u"/nonexistent/driver.inf"), 0);
}

// The cost of a run at its floor, counted rather than timed: on a machine of N devices each
// walk makes one set, N+1 enumerations (N when it stops at the last member) and one buffer and
// one ID read per member visited; then the one action, and the node and flag calls per matched
// device. With the trace off, not one trace platform call.
TEST_F(SequenceTest, RunMakesExactlyThePlatformCallsItsBranchNeeds) {
    constexpr uint32_t N = 5;
    struct Branch {
        const char* name;
        bool matched;                // the last device carries the ID
        bool matchedPresent;         // ... and is plugged in
        std::vector<uint32_t> calls; // per Op, up to Copy: sets, enum, get, set, destroy,
                                     // node, update, copy
        uint32_t allocs;
    };
    const Branch branches[] = {
        {"no device", false, false, {2, 2 * (N + 1), 2 * N, 0, 2, 0, 0, 1}, 2 * N},
        {"present", true, true, {3, 3 * N + 1, 3 * N, 0, 3, 1, 1, 0}, 3 * N},
        // The first walk sees N-1 present devices; the flag read is one more property read.
        {"absent", true, false, {3, 3 * N + 1, 3 * N, 1, 3, 1, 0, 1}, 3 * N - 1},
    };
    for (const Branch& branch : branches) {
        std::vector<DevSim::Device> devices;
        for (uint32_t i = 0; i + 1 < N; ++i) {
            devices.push_back(MakeDevice(u"ROOT\\O\\000" + std::u16string(1, u'0' + i),
                                         {kIdOther, u"PCI\\CC_0C03"}, true, 0));
        }
        devices.push_back(MakeDevice(u"ROOT\\M\\0000", {branch.matched ? kIdShort : kIdOther},
                                     branch.matchedPresent || !branch.matched, 0));
        UseDevices(devices);
        const std::u16string inf = MakeInf();
        TraceSettings = {0, 0, 3};
        // The trace's platform, its files and its clock each count their own calls.
        const auto traceCalls = [] {
            return std::vector<uint32_t>{TracePlatformHost::PlatformCalls(), SafeFileHost::Calls(),
                                         LocalClockHost::Calls()};
        };
        const std::vector<uint32_t> before = traceCalls();
        ASSERT_GT(before[0] + before[1] + before[2], 0u); // start-up's calls were counted
        RunInstallation(kIdShort, inf.c_str());
        EXPECT_EQ(traceCalls(), before) << branch.name;

        std::vector<uint32_t> calls;
        for (Op op : {Op::GetClassDevs, Op::Enum, Op::GetProperty, Op::SetProperty, Op::Destroy,
                      Op::NodeStatus, Op::Update, Op::Copy}) {
            calls.push_back(DevSim::Calls(op));
        }
        EXPECT_EQ(calls, branch.calls) << branch.name;
        EXPECT_EQ(DevSim::Calls(Op::Alloc), branch.allocs) << branch.name;
        for (Op op : {Op::InstanceId, Op::DriverKey, Op::ListFiles, Op::ReadFile}) {
            EXPECT_EQ(DevSim::Calls(op), 0u) << branch.name;
        }
    }
}

TEST_F(SequenceTest, UnexpectedFirstStatusEndsTheSequence) {
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0)});
    DevSim::AddFault(Fail(Op::GetClassDevs, 1, 5));
    RunInstallation(kIdShort, MakeInf().c_str());
    EXPECT_EQ(Steps(), (Messages{u"Install driver fail! xxxxxxxxxxx", u"nDevStatus = ffffffff"}));
    EXPECT_EQ(DevSim::Calls(Op::GetClassDevs), 1u);
    EXPECT_EQ(DevSim::Calls(Op::Copy), 0u);

    // A failing Reinstall is reported by the sequence.
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0)});
    DevSim::AddFault(Fail(Op::SetProperty, 1, 5));
    RunInstallation(kIdShort, MakeInf().c_str());
    EXPECT_EQ(Steps().back(), u"Reinstall error!");
}

} // namespace
