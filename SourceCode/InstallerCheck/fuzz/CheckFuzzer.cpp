// InstallerCheck over arbitrary machines: raw hardware-ID and flag bytes, drivers, injected
// faults and any requested ID, through every command and form. Built once per match rule.
//
// Input:
//   device count 1 byte (1 to 10), then per device: attributes (bit 0 present, bit 1 has
//                hardware IDs, bit 2 has config flags, bit 3 has a driver, bit 4 its node needs
//                a restart), ID bytes (2-byte
//                length, up to 1023, and the raw bytes), flag bytes (a length byte, up to 7)
//   fault count  1 byte (up to 3), then per fault: operation, first call, error index, count
//   request      the rest, as text (FuzzInput::Text), lower-cased as the check does
//
// Always: no crash and no read past what the simulator returned (the sanitizers), every set and
// buffer released, the machine unchanged, and an exit code the command may give. Without
// faults: never "unreadable", and the devices reported are exactly those whose lists, read
// with DevSim::SplitMultiSz, match by the documented rule, in machine order.
#include <algorithm>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "CheckCommand.h"
#include "CheckReport.h"
#include "DeviceServices.h"
#include "DeviceSimulator.h"
#include "FuzzSupport.h"
#include "MatchRule.h"
#include "TracePlatformHost.h"

namespace {

// Which rule this target was linked with (MatchPrefix or MatchEquality).
bool PrefixRule() {
    static const bool prefix = std::u16string_view(MatchRuleName()) == u"prefix";
    return prefix;
}

constexpr uint32_t kErrors[] = {122, 13, 8, 0x1F, 259, 2, 234, DevSvc::CR_NO_SUCH_DEVINST};

DevSim::Machine ReadMachine(FuzzInput& in) {
    DevSim::Machine machine;
    const size_t devices = in.Byte() % 10 + 1;
    for (size_t i = 0; i < devices; ++i) {
        DevSim::Device device;
        device.instanceId = u"ROOT\\FUZZ\\" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        const uint8_t attributes = in.Byte();
        device.present = (attributes & 1) != 0;
        if ((attributes & 2) != 0) {
            device.hardwareIds = in.Bytes(in.Half() % 1024);
        }
        if ((attributes & 4) != 0) {
            device.configFlags = in.Bytes(in.Byte() % 8);
        }
        if ((attributes & 8) != 0) {
            device.driver = u"oem" + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u".inf";
        }
        if ((attributes & 16) != 0) {
            device.nodeStatus = DevSvc::DN_NEED_RESTART;
        }
        machine.devices.push_back(std::move(device));
    }
    const size_t faults = in.Byte() % 4;
    for (size_t i = 0; i < faults; ++i) {
        DevSim::Fault fault{};
        fault.op = static_cast<DevSim::Op>(in.Byte() % static_cast<uint8_t>(DevSim::Op::Count));
        fault.firstCall = in.Byte() % 12 + 1;
        fault.error = kErrors[in.Byte() % std::size(kErrors)];
        fault.count = in.Byte() % 3;
        machine.faults.push_back(fault);
    }
    machine.driverStore = (ScratchFolder() / "store").string();
    return machine;
}

bool Matches(const DevSim::Device& device, const std::u16string& id) {
    if (!device.hardwareIds) {
        return false;
    }
    for (std::u16string entry : DevSim::SplitMultiSz(*device.hardwareIds)) {
        LowerAsciiInPlace(entry);
        if (PrefixRule() ? !id.empty() && entry.starts_with(id) : entry == id) {
            return true;
        }
    }
    return false;
}

void CheckUntouched(const DevSim::Machine& machine) {
    FUZZ_CHECK(DevSim::OpenSets() == 0);
    FUZZ_CHECK(DevSim::LiveBuffers() == 0);
    FUZZ_CHECK(DevSim::StrayReleases() == 0);
    FUZZ_CHECK(DevSim::Current().devices == machine.devices);
    FUZZ_CHECK(DevSim::Calls(DevSim::Op::SetProperty) + DevSim::Calls(DevSim::Op::Update) +
                   DevSim::Calls(DevSim::Op::Copy) + DevSim::Calls(DevSim::Op::Uninstall) +
                   DevSim::Calls(DevSim::Op::UninstallInf) ==
               0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::u16string inf = [] {
        const std::filesystem::path path = ScratchFolder() / "check.inf";
        std::ofstream(path) << "[Version]\nSignature=\"$Windows NT$\"\n";
        return TracePlatformHost::FromUtf8(path.string());
    }();
    FuzzInput in(data, size);
    const DevSim::Machine machine = ReadMachine(in);
    const std::u16string requested = in.RestText();
    std::u16string id = requested;
    LowerAsciiInPlace(id);

    struct Run {
        std::vector<std::u16string> arguments;
        std::vector<int> allowed;
    };
    const std::vector<Run> runs = {
        // "--" ends the options: the requested ID may begin with dashes.
        // The fuzzer's INF names no models: plan's pre-flight may find that it will not install.
        {{u"plan", u"--", requested, inf}, {0, 1, 3}},
        {{u"plan", u"--json", u"--", requested, inf}, {0, 1, 3}},
        {{u"verify", u"--", requested, inf}, {0, 1, 3, 4}},
        {{u"verify", u"--json", u"--", requested, inf}, {0, 1, 3, 4}},
        {{u"verify", u"--detect", u"--", requested, inf}, {0, 3}},
    };
    const bool usable = !id.empty() && id.size() <= 1024 && id.find(u'\0') == std::u16string::npos;
    for (const Run& run : runs) {
        DevSim::UseMachine(machine);
        const CheckResult result = RunCheck(run.arguments);
        CheckUntouched(machine);
        if (!usable) {
            FUZZ_CHECK(result.exitCode == kExitUsage);
            continue;
        }
        FUZZ_CHECK(std::find(run.allowed.begin(), run.allowed.end(), result.exitCode) !=
                   run.allowed.end());
        FUZZ_CHECK(machine.faults.empty() ? result.exitCode != kExitUnreadable : true);
        // Unreadable: the reason on stderr alone. A plan that will not install says each reason
        // on stderr as well as in its report; anything else has nothing on stderr.
        const bool refusedPlan = run.arguments[0] == u"plan" && result.exitCode == kExitNotVerified;
        FUZZ_CHECK(result.exitCode == kExitUnreadable ? result.out.empty()
                                                      : result.err.empty() != refusedPlan);
    }
    if (!usable || !machine.faults.empty()) {
        return 0;
    }
    DevSim::UseMachine(machine);
    CheckRequest request;
    request.mode = CheckMode::Plan;
    request.requestedId = requested;
    request.hardwareId = id;
    request.inf = inf;
    Report report;
    std::u16string failure;
    FUZZ_CHECK(BuildReport(request, &report, &failure));
    std::vector<std::u16string> expected;
    std::vector<bool> present;
    for (const DevSim::Device& device : machine.devices) {
        if (Matches(device, id)) {
            expected.push_back(device.instanceId);
            present.push_back(device.present);
        }
    }
    FUZZ_CHECK(report.devices.size() == expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        FUZZ_CHECK(report.devices[i].instanceId == expected[i]);
        FUZZ_CHECK(report.devices[i].present == present[i]);
    }
    CheckUntouched(machine);
    return 0;
}
