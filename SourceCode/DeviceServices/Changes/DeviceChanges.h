// Device-installation services that change the system's device state: a device's registry
// property, the driver installed on devices, the driver store and its removal. Library
// devsvc_changes, with DeviceChanges-win32.cpp (the real calls) and DeviceChanges-host.cpp (the
// simulator). A program that only reads the device state links devsvc alone and so never contains
// these calls. UpdateDriverForDevices, UninstallDriver and UninstallOEMInf are loaded at their
// first call, as DeviceServices.h describes.
#pragma once

#include <cstdint>

#include "DeviceServices.h"

namespace DevSvc {

// SetupDiSetDeviceRegistryPropertyW.
bool SetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                               const uint8_t* buffer, uint32_t size);

// UpdateDriverForPlugAndPlayDevicesW(NULL, hardwareId, infPath, flags, &reboot), from newdev.dll
// loaded at run time (see DeviceServices.h).
bool UpdateDriverForDevices(const char16_t* hardwareId, const char16_t* infPath,
                            uint32_t installFlags, bool* rebootRequired);

// SetupCopyOEMInfW(infPath, NULL, SPOST_PATH, 0, destination, destinationChars, requiredSize,
// NULL).
bool CopyOEMInf(const char16_t* infPath, char16_t* destination, uint32_t destinationChars,
                uint32_t* requiredSize);

inline constexpr uint32_t SUOI_FORCEDELETE = 0x1;
inline constexpr uint32_t ERROR_INF_IN_USE_BY_DEVICES_CODE = 0xE000023D;

// DiUninstallDriverW(NULL, infPath, flags, &reboot), from newdev.dll loaded at run time: takes
// the package of the staged INF `infPath` (a full path) off every device that has it, giving them
// their next best driver, and removes it from the driver store. The system has it from Windows 10
// 1703 on; elsewhere (Wine too) it fails with ERROR_PROC_NOT_FOUND. The reboot flag is always
// asked for, since without it the call would show a restart prompt itself.
bool UninstallDriver(const char16_t* infPath, uint32_t flags, bool* rebootRequired);

// SetupUninstallOEMInfW(infFileName, flags, NULL), from setupapi.dll loaded at run time: deletes
// the staged INF `infFileName` (a name in the system's INF folder) and the package behind it.
// Without SUOI_FORCEDELETE it fails with ERROR_INF_IN_USE_BY_DEVICES while a device has it.
bool UninstallOEMInf(const char16_t* infFileName, uint32_t flags);

// Whether DiUninstallDriverW (newdev.dll) and SetupUninstallOEMInfW (setupapi.dll) can be had
// from the system folder, as UninstallDriver and UninstallOEMInf bind them at their first call.
// False with LastError() ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND: only this tells a missing
// function from the call's own error, which may be either code too.
bool BindUninstallDriver();
bool BindUninstallOEMInf();

} // namespace DevSvc
