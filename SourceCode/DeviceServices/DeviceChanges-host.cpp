// Host device-installation services that change the device state, over the device-manager
// simulator: a device's config flags, the driver installed on present devices and the driver
// store. Like every host call, each counts itself and honours an injected fault first; the
// functions that Windows loads at run time also honour a "bind" fault, which makes them fail as a
// DLL or function missing from the system folder does.
#include "DeviceChanges.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "DeviceSimulator.h"
#include "HostCalls.h"

namespace DevSvc {

using namespace HostCalls;

namespace {

using DevSim::Op;

constexpr uint32_t kErrorInvalidFlags = 1004;
constexpr uint32_t kKnownInstallFlags = 0x7; // FORCE | READONLY | NONINTERACTIVE

bool EqualIgnoringCase(const std::u16string& a, const std::u16string& b) {
    auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&fold](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

bool HasHardwareId(const DevSim::Device& device, const std::u16string& id) {
    if (!device.hardwareIds) {
        return false;
    }
    for (const std::u16string& entry : DevSim::SplitMultiSz(*device.hardwareIds)) {
        if (EqualIgnoringCase(entry, id)) {
            return true;
        }
    }
    return false;
}

} // namespace

bool SetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                               const uint8_t* buffer, uint32_t size) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::SetProperty)) {
        return Fail(fault->error);
    }
    DevSim::Device* device = nullptr;
    if (uint32_t error = ResolveElement(set, element, &device)) {
        return Fail(error);
    }
    if (property != SPDRP_CONFIGFLAGS) {
        return Fail(kErrorInvalidRegProperty);
    }
    if (buffer == nullptr && size != 0) {
        return Fail(kErrorInvalidUserBuffer);
    }
    // A null buffer of size 0 deletes the property, as on Windows.
    if (buffer == nullptr) {
        device->configFlags.reset();
    } else {
        device->configFlags = std::vector<uint8_t>(buffer, buffer + size);
    }
    DevSim::Hooks::StateChanged();
    return Succeed();
}

bool UpdateDriverForDevices(const char16_t* hardwareId, const char16_t* infPath,
                            uint32_t installFlags, bool* rebootRequired) {
    if (std::optional<uint32_t> error = BindFault()) {
        return Fail(*error);
    }
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Update)) {
        return Fail(fault->error);
    }
    std::u16string id = Text(hardwareId);
    std::u16string inf = Text(infPath);
    if (id.empty() || inf.empty()) {
        return Fail(ERROR_INVALID_PARAMETER_CODE);
    }
    if ((installFlags & ~kKnownInstallFlags) != 0) {
        return Fail(kErrorInvalidFlags);
    }
    if (!DevSim::Hooks::IsRegularFile(DevSim::ToUtf8(inf))) {
        return Fail(ERROR_FILE_NOT_FOUND_CODE);
    }
    std::vector<DevSim::Device>& devices = DevSim::Current().devices;
    std::vector<size_t> matches;
    for (size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].present && HasHardwareId(devices[i], id)) {
            matches.push_back(i);
        }
    }
    if (matches.empty()) {
        return Fail(ERROR_NO_SUCH_DEVINST_CODE);
    }
    std::string stagedPath;
    std::u16string name;
    if (uint32_t error = DevSim::Hooks::StageInf(inf, &stagedPath, &name)) {
        return Fail(error);
    }
    for (size_t i : matches) {
        devices[i].driver = name;
    }
    DevSim::Hooks::StateChanged();
    if (rebootRequired != nullptr) {
        *rebootRequired = false;
    }
    return Succeed();
}

bool CopyOEMInf(const char16_t* infPath, char16_t* destination, uint32_t destinationChars,
                uint32_t* requiredSize) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Copy)) {
        return Fail(fault->error);
    }
    std::string stagedPath;
    std::u16string name;
    if (uint32_t error = DevSim::Hooks::StageInf(Text(infPath), &stagedPath, &name)) {
        return Fail(error);
    }
    std::optional<std::u16string> path = DevSim::FromUtf8(stagedPath);
    if (!path) {
        return Fail(ERROR_PATH_NOT_FOUND_CODE);
    }
    uint32_t chars = static_cast<uint32_t>(path->size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = chars;
    }
    if (destination == nullptr || destinationChars < chars) {
        return Fail(ERROR_INSUFFICIENT_BUFFER_CODE);
    }
    std::copy(path->begin(), path->end(), destination);
    destination[path->size()] = u'\0';
    return Succeed();
}

} // namespace DevSvc
