// What the host device-services files share: the simulated last error and the lookup of the
// device an element stands for. Host builds only.
#pragma once

#include <cstdint>
#include <string>

#include "DeviceServices.h"
#include "DeviceSimulator.h"

namespace DevSvc::HostCalls {

// Set LastError() and return FALSE or TRUE, as the Windows calls do.
bool Fail(uint32_t error);
bool Succeed();
void SetLastError(uint32_t error);

std::u16string Text(const char16_t* text); // "" for a null pointer

// The device an element of `set` stands for. 0, or the error to fail with.
uint32_t ResolveElement(DevInfoSet set, const DevInfoData* element, DevSim::Device** device);

} // namespace DevSvc::HostCalls
