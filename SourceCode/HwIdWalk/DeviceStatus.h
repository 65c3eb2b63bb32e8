// Device status lookup: is a device with the hardware ID present now, known but absent, or
// unknown to the system?
#pragma once

#include <cstdint>
#include <string>

using DeviceStatus = int32_t;
inline constexpr DeviceStatus DEVICE_EXIST_AND_PLUG = 2; // matched among the present devices
inline constexpr DeviceStatus DEVICE_UNPLUG = 3;         // no matching device in the set
inline constexpr DeviceStatus DEVICE_EXIST = 4;          // matched among all known devices

// `flags`: DIGCF_PRESENT | DIGCF_ALLCLASSES (present devices) or DIGCF_ALLCLASSES (all known
// devices). -1 when no device information set could be built.
DeviceStatus GetDeviceStatus(std::u16string csHwID, uint32_t flags);
