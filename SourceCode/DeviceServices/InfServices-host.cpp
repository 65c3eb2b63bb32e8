// The INF services on the host: the simulator's INF parser stands in for the Setup API's, and
// its devices' hardware IDs against the INF's models for the machine's platform for Windows'
// driver matching. These reads are not counted and take no fault: they stand for the system's
// own reading of the package.
#include "InfServices.h"

#include <memory>
#include <set>

#include "InfParser.h"
#include "SetupCalls-host.h"
#include "SimulatedPackage.h"

namespace DevSvc {

using namespace HostCalls;

namespace {

std::set<DevSim::ParsedInf*>& Open() {
    static std::set<DevSim::ParsedInf*> open;
    return open;
}

} // namespace

InfHandle OpenInf(const char16_t* path, uint32_t* errorLine) {
    *errorLine = 0;
    std::vector<uint8_t> bytes;
    if (const uint32_t error = DevSim::ReadPackageFile(Text(path), &bytes)) {
        Fail(error);
        return nullptr;
    }
    auto inf = std::make_unique<DevSim::ParsedInf>();
    if (const uint32_t error = DevSim::ParseInf(bytes, inf.get(), errorLine)) {
        Fail(error);
        return nullptr;
    }
    Succeed();
    return *Open().insert(inf.release()).first;
}

void CloseInf(InfHandle inf) {
    auto* parsed = static_cast<DevSim::ParsedInf*>(inf);
    if (Open().erase(parsed) == 1) {
        delete parsed;
    }
}

bool ReadInfSection(InfHandle inf, const char16_t* section, std::vector<InfRules::InfLine>* lines) {
    auto* parsed = static_cast<DevSim::ParsedInf*>(inf);
    if (Open().count(parsed) == 0) {
        return Fail(ERROR_INVALID_HANDLE_CODE);
    }
    return parsed->Section(Text(section), lines) ? Succeed() : Fail(ERROR_LINE_NOT_FOUND_CODE);
}

uint32_t ReadDeviceIds(DevInfoSet set, DevInfoData* element, std::vector<std::u16string>* ids) {
    ids->clear();
    // Windows reads them with SetupDiGetDeviceRegistryPropertyW: its faults apply.
    if (const std::optional<DevSim::Fault> fault =
            DevSim::Hooks::CountCall(DevSim::Op::GetProperty)) {
        return fault->error;
    }
    DevSim::Device* device = nullptr;
    if (const uint32_t error = ResolveElement(set, element, &device)) {
        return error;
    }
    // Simulated devices have hardware IDs only.
    if (device->hardwareIds) {
        *ids = DevSim::SplitMultiSz(*device->hardwareIds);
    }
    return 0;
}

uint32_t ListDrivers(DevInfoSet set, DevInfoData* element, const char16_t* infPath,
                     std::vector<InfRules::DriverLine>* drivers,
                     std::vector<std::u16string>* deviceIds) {
    drivers->clear();
    if (const uint32_t error = ReadDeviceIds(set, element, deviceIds)) {
        return error;
    }
    // Wine's list writes the INF's class into the device's key. The simulated Wine refuses
    // instead, so that a program which asks for the list there is seen doing it.
    if (DevSim::Current().wine) {
        deviceIds->clear();
        return ERROR_ACCESS_DENIED_CODE;
    }
    DevSim::Device* device = nullptr;
    ResolveElement(set, element, &device);
    return DevSim::DriversFor(*device, Text(infPath), drivers);
}

InfRules::Platform NativePlatform() {
    return DevSim::MachinePlatform();
}

InfRules::OsVersion RunningOsVersion() {
    return DevSim::SimulatedOsVersion();
}

} // namespace DevSvc
