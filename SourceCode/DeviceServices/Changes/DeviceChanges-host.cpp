// Host device-installation services that change the device state, over the device-manager
// simulator: a device's config flags, the driver installed on present devices, the driver store
// and the removal of a staged package. Like every host call, each counts itself and honours an
// injected fault first; the functions that Windows loads at run time also honour a "bind" fault,
// which makes them fail as a DLL or function missing from the system folder does.
#include "DeviceChanges.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "AsciiCase.h"
#include "DeviceSimulator.h"
#include "SetupCalls-host.h"
#include "SimulatedPackage.h"
#include "WinError.h"

namespace DevSvc {

using namespace HostCalls;

namespace {

using DevSim::Op;

constexpr uint32_t kKnownInstallFlags = 0x7; // FORCE | READONLY | NONINTERACTIVE
constexpr uint32_t kNoRemoveInf = 0x1;       // DIURFLAG_NO_REMOVE_INF

// The driver on `device` changes: a device that cannot be stopped runs the change only after a
// restart. True when it needs one.
bool ChangeDriver(DevSim::Device* device, std::u16string driver) {
    device->driver = std::move(driver);
    if (device->present && !device->stoppable) {
        device->nodeStatus |= DN_NEED_RESTART;
        return true;
    }
    return false;
}

bool HasHardwareId(const DevSim::Device& device, const std::u16string& id) {
    if (!device.hardwareIds) {
        return false;
    }
    for (const std::u16string& entry : DevSim::SplitMultiSz(*device.hardwareIds)) {
        if (EqualIgnoringAsciiCase(entry, id)) {
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
        return Fail(HostSupport::WinError::INVALID_FLAGS);
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
    // Only devices that the INF offers a driver for get it; none: the search for a driver ends
    // with no more items, as Windows logs it.
    std::vector<size_t> offered;
    for (size_t i : matches) {
        std::vector<InfRules::DriverLine> drivers;
        if (uint32_t error = DevSim::DriversFor(devices[i], inf, &drivers)) {
            return Fail(error);
        }
        if (!drivers.empty()) {
            offered.push_back(i);
        }
    }
    if (offered.empty()) {
        return Fail(ERROR_NO_MORE_ITEMS_CODE);
    }
    if (uint32_t error = DevSim::CheckPackageImport(inf)) {
        return Fail(error);
    }
    matches = offered;
    std::string stagedPath;
    std::u16string name;
    if (uint32_t error = DevSim::Hooks::StageInf(inf, &stagedPath, &name)) {
        return Fail(error);
    }
    bool reboot = false;
    for (size_t i : matches) {
        reboot = ChangeDriver(&devices[i], name) || reboot;
    }
    DevSim::Hooks::StateChanged();
    if (rebootRequired != nullptr) {
        *rebootRequired = reboot;
    }
    return Succeed();
}

bool CopyOEMInf(const char16_t* infPath, char16_t* destination, uint32_t destinationChars,
                uint32_t* requiredSize) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Copy)) {
        return Fail(fault->error);
    }
    if (DevSim::Hooks::IsRegularFile(DevSim::ToUtf8(Text(infPath)))) {
        if (uint32_t error = DevSim::CheckPackageImport(Text(infPath))) {
            return Fail(error);
        }
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

// Every device that has the package, present or not, is given the next best driver: the simulator
// knows no other package, so that is none.
bool UninstallDriver(const char16_t* infPath, uint32_t flags, bool* rebootRequired) {
    // Written whatever the outcome, as the Windows wrapper writes it.
    if (rebootRequired != nullptr) {
        *rebootRequired = false;
    }
    if (!DevSim::Current().hasUninstallDriver) {
        return Fail(ERROR_PROC_NOT_FOUND_CODE);
    }
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Uninstall)) {
        return fault->error == 0 ? Succeed() : Fail(fault->error);
    }
    if (Text(infPath).empty()) {
        return Fail(ERROR_INVALID_PARAMETER_CODE);
    }
    if ((flags & ~kNoRemoveInf) != 0) {
        return Fail(HostSupport::WinError::INVALID_FLAGS);
    }
    std::u16string name;
    if (uint32_t error = DevSim::Hooks::FindStaged(HostPath(infPath), &name)) {
        return Fail(error);
    }
    bool reboot = false;
    for (DevSim::Device& device : DevSim::Current().devices) {
        if (!device.driver.empty() && EqualIgnoringAsciiCase(device.driver, name)) {
            reboot = ChangeDriver(&device, u"") || reboot;
        }
    }
    DevSim::Hooks::StateChanged();
    if ((flags & kNoRemoveInf) == 0) {
        if (uint32_t error = DevSim::Hooks::DeleteStaged(name)) {
            return Fail(error);
        }
    }
    if (rebootRequired != nullptr) {
        *rebootRequired = reboot;
    }
    return Succeed();
}

// The devices keep their driver, even with SUOI_FORCEDELETE.
bool UninstallOEMInf(const char16_t* infFileName, uint32_t flags) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::UninstallInf)) {
        return fault->error == 0 ? Succeed() : Fail(fault->error);
    }
    const std::u16string name = Text(infFileName);
    if (name.empty() || name.find_first_of(u"\\/") != std::u16string::npos) {
        return Fail(ERROR_INVALID_PARAMETER_CODE);
    }
    if ((flags & ~SUOI_FORCEDELETE) != 0) {
        return Fail(HostSupport::WinError::INVALID_FLAGS);
    }
    std::u16string staged;
    const std::string path = DevSim::DriverStoreFolder() + "/" + DevSim::ToUtf8(name);
    if (uint32_t error = DevSim::Hooks::FindStaged(path, &staged)) {
        return Fail(error);
    }
    if ((flags & SUOI_FORCEDELETE) == 0) {
        for (const DevSim::Device& device : DevSim::Current().devices) {
            if (!device.driver.empty() && EqualIgnoringAsciiCase(device.driver, staged)) {
                return Fail(ERROR_INF_IN_USE_BY_DEVICES_CODE);
            }
        }
    }
    if (uint32_t error = DevSim::Hooks::DeleteStaged(staged)) {
        return Fail(error);
    }
    return Succeed();
}

// The binding is counted here, once per call, and a "bind" fault makes it fail; a machine with
// di-uninstall-driver = no has no DiUninstallDriverW to bind.
bool BindUninstallDriver() {
    if (std::optional<uint32_t> error = BindFault()) {
        return Fail(*error);
    }
    return DevSim::Current().hasUninstallDriver ? Succeed() : Fail(ERROR_PROC_NOT_FOUND_CODE);
}

bool BindUninstallOEMInf() {
    if (std::optional<uint32_t> error = BindFault()) {
        return Fail(*error);
    }
    return Succeed();
}

} // namespace DevSvc
