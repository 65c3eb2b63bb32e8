// Reinstall marking: every known device with the hardware ID whose node is absent now gets
// CONFIGFLAG_REINSTALL, so that its driver is reinstalled when it next arrives.
#pragma once

#include <cstdint>
#include <string>

// 1 when the whole set was walked (whether or not anything was marked); -1 when no set could
// be built or a matched absent device's flags could not be read or written.
int32_t Reinstall(std::u16string csHwID);
