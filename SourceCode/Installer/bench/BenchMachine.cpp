#include "BenchMachine.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace {

constexpr size_t kAbsentMatches = 4;
constexpr size_t kLongListEvery = 100;

std::u16string Ascii(const char* text) {
    std::u16string out;
    for (const char* p = text; *p != '\0'; ++p) {
        out.push_back(static_cast<char16_t>(*p));
    }
    return out;
}

DevSim::Device PciDevice(size_t index) {
    char instance[64];
    char full[96];
    char shortId[48];
    const unsigned device = static_cast<unsigned>(index & 0xFFFF);
    std::snprintf(instance, sizeof instance, "PCI\\VEN_8086&DEV_%04X\\3&11583659&0&%zX", device,
                  index);
    std::snprintf(full, sizeof full, "PCI\\VEN_8086&DEV_%04X&SUBSYS_%08zX&REV_%02zX", device,
                  index * 2654435761u % 0xFFFFFFFFu, index % 256);
    std::snprintf(shortId, sizeof shortId, "PCI\\VEN_8086&DEV_%04X", device);
    const bool present = index % 5 != 0;
    if (index % kLongListEvery != kLongListEvery - 1) {
        return DevSim::MakeDevice(Ascii(instance), {Ascii(full), Ascii(shortId)}, present, 0u);
    }
    char cc[64];
    std::snprintf(cc, sizeof cc, "PCI\\VEN_8086&DEV_%04X&CC_0C0330", device);
    return DevSim::MakeDevice(Ascii(instance),
                              {Ascii(full), Ascii(shortId), Ascii(cc), u"PCI\\VEN_8086&CC_0C0330",
                               u"PCI\\VEN_8086&CC_0C03", u"PCI\\VEN_8086", u"PCI\\CC_0C0330"},
                              present, 0u);
}

DevSim::Device Matching(const std::u16string& instance, bool present) {
    return DevSim::MakeDevice(instance, {kBenchHardwareId + u"&REV_0100", kBenchHardwareId},
                              present, 0u);
}

} // namespace

DevSim::Machine MakeBenchMachine(size_t devices, const std::filesystem::path& driverStore) {
    DevSim::Machine machine;
    machine.driverStore = driverStore.string();
    machine.devices.reserve(devices);
    for (size_t i = 0; i + 1 < devices; ++i) {
        machine.devices.push_back(PciDevice(i));
    }
    for (size_t k = 1; k <= kAbsentMatches && devices > kAbsentMatches + 1; ++k) {
        const size_t at = devices * k / (kAbsentMatches + 1);
        machine.devices[at] =
            Matching(u"USB\\VID_1234&PID_5678\\ABSENT" + Ascii(std::to_string(k).c_str()), false);
    }
    machine.devices.push_back(Matching(u"USB\\VID_1234&PID_5678\\5&1A2B3C4D&0&1", true));
    return machine;
}

BenchFolder::BenchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "installer-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a folder for the benchmark");
    }
    path_ = pattern;
    const std::filesystem::path inf = path_ / "sample.inf";
    std::ofstream(inf) << "[Version]\nSignature=\"$Windows NT$\"\nClass=USB\n";
    const std::string text = inf.string();
    inf_.assign(text.begin(), text.end());
}

BenchFolder::~BenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}
