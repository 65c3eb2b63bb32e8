// What the host device-services files share: the simulated last error and the lookup of the
// device an element stands for. Host builds only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "DeviceServices.h"
#include "DeviceSimulator.h"
#include "HostPath.h"

namespace DevSvc::HostCalls {

inline constexpr uint32_t kErrorInvalidUserBuffer = 1784;
inline constexpr uint32_t kErrorInvalidRegProperty = 0xE0000209;

// Set LastError() and return FALSE or TRUE, as the Windows calls do.
bool Fail(uint32_t error);
bool Succeed();
void SetLastError(uint32_t error);

std::u16string Text(const char16_t* text); // "" for a null pointer
// A Windows path as the callers compose it (folder, backslash, name) as a path here.
using HostSupport::HostPath;

// For a function that Windows loads at run time (cfgmgr32, newdev): counts one binding and gives
// the error of a "bind" fault that makes it fail, as a DLL or function missing from the system
// folder does (ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND).
std::optional<uint32_t> BindFault();

// The device an element of `set` stands for. 0, or the error to fail with.
uint32_t ResolveElement(DevInfoSet set, const DevInfoData* element, DevSim::Device** device);

} // namespace DevSvc::HostCalls
