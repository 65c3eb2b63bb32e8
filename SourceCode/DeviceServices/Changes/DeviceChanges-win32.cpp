// Device services on Windows that change the device state: each function is the Setup API or
// driver-update call it names. Only Installer and InstallerRemove link this file. The functions
// of newdev.dll, and SetupUninstallOEMInfW, are loaded from the system folder at their first call
// (Win32.h).
#include "DeviceChanges.h"
#include "SetupCalls-win32.h"

#include <newdev.h>

using DevSvc::Win32Calls::Native;
using Win32::BindSystemFunction;
using Win32::Wide;

bool DevSvc::SetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                                       const uint8_t* buffer, uint32_t size) {
    return SetupDiSetDeviceRegistryPropertyW(set, Native(element), property, buffer, size) != FALSE;
}

bool DevSvc::UpdateDriverForDevices(const char16_t* hardwareId, const char16_t* infPath,
                                    uint32_t installFlags, bool* rebootRequired) {
    static const auto updateDriver =
        BindSystemFunction<decltype(&UpdateDriverForPlugAndPlayDevicesW)>(
            L"newdev.dll", "UpdateDriverForPlugAndPlayDevicesW");
    if (updateDriver.call == nullptr) {
        SetLastError(updateDriver.error);
        return false;
    }
    BOOL reboot = FALSE;
    const BOOL done = updateDriver.call(nullptr, Wide(hardwareId), Wide(infPath), installFlags,
                                        rebootRequired != nullptr ? &reboot : nullptr);
    if (rebootRequired != nullptr) {
        *rebootRequired = reboot != FALSE;
    }
    return done != FALSE;
}

bool DevSvc::CopyOEMInf(const char16_t* infPath, char16_t* destination, uint32_t destinationChars,
                        uint32_t* requiredSize) {
    DWORD required = requiredSize != nullptr ? *requiredSize : 0;
    const BOOL done = SetupCopyOEMInfW(Wide(infPath), nullptr, SPOST_PATH, 0,
                                       reinterpret_cast<wchar_t*>(destination), destinationChars,
                                       requiredSize != nullptr ? &required : nullptr, nullptr);
    if (requiredSize != nullptr) {
        *requiredSize = required;
    }
    return done != FALSE;
}

// newdev.h of older SDKs lacks the declaration (Windows 10 1703 and later).
using DiUninstallDriverFn = BOOL(WINAPI*)(HWND, PCWSTR, DWORD, PBOOL);

namespace {

const Win32::SystemFunction<DiUninstallDriverFn>& UninstallDriverFunction() {
    static const auto uninstallDriver =
        BindSystemFunction<DiUninstallDriverFn>(L"newdev.dll", "DiUninstallDriverW");
    return uninstallDriver;
}

const Win32::SystemFunction<decltype(&SetupUninstallOEMInfW)>& UninstallInfFunction() {
    static const auto uninstallInf = BindSystemFunction<decltype(&SetupUninstallOEMInfW)>(
        L"setupapi.dll", "SetupUninstallOEMInfW");
    return uninstallInf;
}

} // namespace

bool DevSvc::BindUninstallDriver() {
    SetLastError(UninstallDriverFunction().error);
    return UninstallDriverFunction().call != nullptr;
}

bool DevSvc::BindUninstallOEMInf() {
    SetLastError(UninstallInfFunction().error);
    return UninstallInfFunction().call != nullptr;
}

bool DevSvc::UninstallDriver(const char16_t* infPath, uint32_t flags, bool* rebootRequired) {
    const auto& uninstallDriver = UninstallDriverFunction();
    if (uninstallDriver.call == nullptr) {
        SetLastError(uninstallDriver.error);
        return false;
    }
    BOOL reboot = FALSE;
    const BOOL done = uninstallDriver.call(nullptr, Wide(infPath), flags, &reboot);
    if (rebootRequired != nullptr) {
        *rebootRequired = reboot != FALSE;
    }
    return done != FALSE;
}

bool DevSvc::UninstallOEMInf(const char16_t* infFileName, uint32_t flags) {
    const auto& uninstallInf = UninstallInfFunction();
    if (uninstallInf.call == nullptr) {
        SetLastError(uninstallInf.error);
        return false;
    }
    return uninstallInf.call(Wide(infFileName), flags, nullptr) != FALSE;
}
