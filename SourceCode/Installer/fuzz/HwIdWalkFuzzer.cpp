// The hardware-ID walk over arbitrary property bytes: GetDeviceStatus (present devices and all
// devices) and Reinstall on a simulated machine built from the input, with injected faults.
// Built once per match rule.
//
// Input:
//   options      bit 0: trace on (VIEW=1 LEVEL=1, captured); bit 1: request an entry of a device
//   device count 1 byte (1 to 12), then per device:
//                attributes (bit 0 present, bit 1 has hardware IDs, bit 2 has config flags),
//                ID bytes (2-byte length, up to 1023, and the raw bytes), flag bytes (a length
//                byte, up to 7, and the bytes)
//   fault count  1 byte (up to 4), then per fault: operation, first call, error (an index into
//                kErrors, or a word after 0xFF), count, required size (0xFF and a word, or none)
//   request      device, entry and length bytes (option bit 1), otherwise the requested ID as
//                text (FuzzInput::Text)
//
// Always: every set destroyed and every ID buffer released after each call, and no stray
// release. Without faults, the results and the devices afterwards are those that reading each
// list with DevSim::SplitMultiSz and the documented rule give. With faults, a fault can only
// make the walk miss a device, never find one that does not match.
#include <algorithm>
#include <string_view>
#include <vector>

#include "DeviceServices.h"
#include "DeviceSimulator.h"
#include "DeviceStatus.h"
#include "FuzzSupport.h"
#include "MatchRule.h"
#include "Reinstall.h"
#include "TracePlatformHost.h"
#include "XTrace.h"

namespace {

// Which rule this target was linked with (MatchPrefix or MatchEquality).
bool PrefixRule() {
    static const bool prefix = std::u16string_view(MatchRuleName()) == u"prefix";
    return prefix;
}

using DevSvc::DIGCF_ALLCLASSES;
using DevSvc::DIGCF_PRESENT;

constexpr size_t kMaxDevices = 12;
constexpr size_t kMaxIdBytes = 1023;
constexpr size_t kMaxFlagBytes = 7;
constexpr size_t kMaxFaults = 4;
constexpr uint32_t kFlagBufferBytes = DevSvc::MAX_PATH_CHARS;

// Errors worth injecting: the renewal path, a missing property, no memory, a generic failure,
// the end of an enumeration, a bad handle, and for the node status "no such node".
constexpr uint32_t kErrors[] = {122, 13, 8, 0x1F, 259, 6, 0, DevSvc::CR_NO_SUCH_DEVINST};

struct Case {
    bool traceOn = false;
    DevSim::Machine machine;
    std::u16string id;
};

DevSim::Fault ReadFault(FuzzInput& in) {
    DevSim::Fault fault{};
    fault.op = static_cast<DevSim::Op>(in.Byte() % static_cast<uint8_t>(DevSim::Op::Count));
    fault.firstCall = in.Byte() % 16 + 1;
    const uint8_t error = in.Byte();
    fault.error = error < std::size(kErrors) ? kErrors[error] : error == 0xFF ? in.Word() : 122;
    fault.count = in.Byte() % 4;
    if (in.Byte() == 0xFF) {
        fault.requiredSize = in.Word();
    }
    return fault;
}

std::u16string PickEntry(FuzzInput& in, const std::vector<DevSim::Device>& devices) {
    const DevSim::Device& device = devices[in.Byte() % devices.size()];
    if (!device.hardwareIds) {
        return {};
    }
    const std::vector<std::u16string> entries = DevSim::SplitMultiSz(*device.hardwareIds);
    if (entries.empty()) {
        return {};
    }
    const std::u16string& entry = entries[in.Byte() % entries.size()];
    const size_t length = in.Byte();
    return length == 0 ? entry : entry.substr(0, length);
}

Case ReadCase(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    Case c;
    const uint8_t options = in.Byte();
    c.traceOn = (options & 1) != 0;
    const size_t deviceCount = in.Byte() % kMaxDevices + 1;
    for (size_t i = 0; i < deviceCount; ++i) {
        DevSim::Device device;
        device.instanceId = u"ROOT\\FUZZ\\" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        const uint8_t attributes = in.Byte();
        device.present = (attributes & 1) != 0;
        if ((attributes & 2) != 0) {
            device.hardwareIds = in.Bytes(in.Half() % (kMaxIdBytes + 1));
        }
        if ((attributes & 4) != 0) {
            device.configFlags = in.Bytes(in.Byte() % (kMaxFlagBytes + 1));
        }
        c.machine.devices.push_back(std::move(device));
    }
    const size_t faultCount = in.Byte() % (kMaxFaults + 1);
    for (size_t i = 0; i < faultCount; ++i) {
        c.machine.faults.push_back(ReadFault(in));
    }
    c.machine.driverStore = "/nonexistent-store"; // nothing here stages an INF
    c.id = (options & 2) != 0 ? PickEntry(in, c.machine.devices) : in.RestText();
    LowerAsciiInPlace(c.id); // as the installation sequence passes it
    return c;
}

// The rule as documented, applied to entries read by the simulator's own list reader. An empty
// ID matches nothing under either rule.
bool EntryMatches(const std::u16string& entry, const std::u16string& id) {
    std::u16string lower = entry;
    LowerAsciiInPlace(lower);
    return !id.empty() && (PrefixRule() ? lower.starts_with(id) : lower == id);
}

bool DeviceMatches(const DevSim::Device& device, const std::u16string& id) {
    if (!device.hardwareIds) {
        return false;
    }
    const std::vector<std::u16string> entries = DevSim::SplitMultiSz(*device.hardwareIds);
    return std::any_of(entries.begin(), entries.end(),
                       [&id](const std::u16string& entry) { return EntryMatches(entry, id); });
}

bool Markable(const DevSim::Device& device) {
    return device.configFlags && device.configFlags->size() >= 4 &&
           device.configFlags->size() <= kFlagBufferBytes;
}

std::vector<uint8_t> Marked(std::vector<uint8_t> flags) {
    flags[0] |= static_cast<uint8_t>(DevSvc::CONFIGFLAG_REINSTALL);
    return flags;
}

void CheckReleased() {
    FUZZ_CHECK(DevSim::OpenSets() == 0);
    FUZZ_CHECK(DevSim::LiveBuffers() == 0);
    FUZZ_CHECK(DevSim::StrayReleases() == 0);
    FUZZ_CHECK(DevSim::OverlongOffers() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<std::u16string> records;
    const Case c = ReadCase(data, size);
    const std::vector<DevSim::Device>& before = c.machine.devices;
    const bool faults = !c.machine.faults.empty();
    records.clear();
    TracePlatformHost::CaptureDebugChannel(&records);
    TraceSettings = c.traceOn ? TraceSettingsData{0, 1, 1} : TraceSettingsData{0, 0, 3};
    DevSim::UseMachine(c.machine);

    bool presentMatch = false;
    bool anyMatch = false;
    for (const DevSim::Device& device : before) {
        const bool matches = DeviceMatches(device, c.id);
        presentMatch = presentMatch || (matches && device.present);
        anyMatch = anyMatch || matches;
    }

    const DeviceStatus present = GetDeviceStatus(c.id, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    CheckReleased();
    const DeviceStatus known = GetDeviceStatus(c.id, DIGCF_ALLCLASSES);
    CheckReleased();
    const int32_t reinstalled = Reinstall(c.id);
    CheckReleased();

    FUZZ_CHECK(present == -1 || present == DEVICE_UNPLUG ||
               (present == DEVICE_EXIST_AND_PLUG && presentMatch));
    FUZZ_CHECK(known == -1 || known == DEVICE_UNPLUG || (known == DEVICE_EXIST && anyMatch));
    FUZZ_CHECK(reinstalled == 1 || reinstalled == -1);

    // Marking: walking all devices in order, a matched absent device gets the reinstall bit
    // when its flags can be read whole; one that cannot ends the walk.
    const std::vector<DevSim::Device>& after = DevSim::Current().devices;
    FUZZ_CHECK(after.size() == before.size());
    bool stopped = false;
    for (size_t i = 0; i < before.size(); ++i) {
        const DevSim::Device& was = before[i];
        const DevSim::Device& now = after[i];
        FUZZ_CHECK(now.hardwareIds == was.hardwareIds && now.present == was.present &&
                   now.driver == was.driver);
        const bool matches = DeviceMatches(was, c.id);
        if (now.configFlags != was.configFlags) {
            // Only ever the reinstall bit, on a matched device whose flags could be read.
            FUZZ_CHECK(matches && Markable(was) && now.configFlags == Marked(*was.configFlags));
        }
        if (faults || stopped || !matches || was.present) {
            continue;
        }
        if (Markable(was)) {
            FUZZ_CHECK(now.configFlags == Marked(*was.configFlags));
        } else {
            stopped = true;
        }
    }
    if (!faults) {
        FUZZ_CHECK(present == (presentMatch ? DEVICE_EXIST_AND_PLUG : DEVICE_UNPLUG));
        FUZZ_CHECK(known == (anyMatch ? DEVICE_EXIST : DEVICE_UNPLUG));
        FUZZ_CHECK(reinstalled == (stopped ? -1 : 1));
    }
    TracePlatformHost::CaptureDebugChannel(nullptr);
    return 0;
}
