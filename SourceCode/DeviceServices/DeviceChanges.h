// Device-installation services that change the system's device state: a device's registry
// property, the driver installed on devices, the driver store. Library devsvc_changes, with
// DeviceChanges-win32.cpp (the real calls) and DeviceChanges-host.cpp (the simulator). A program
// that only reads the device state links devsvc alone and so never contains these calls.
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

} // namespace DevSvc
