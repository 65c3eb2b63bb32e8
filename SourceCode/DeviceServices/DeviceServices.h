// Device-installation services: the only way the installation logic reaches the system's
// device state. DeviceServices-win32.cpp calls the real Setup API, Configuration Manager and
// driver-update functions; DeviceServices-host.cpp is a device-manager simulator for Linux.
//
// Every function keeps the contract of the Windows call it stands for: BOOL-style results with
// the reason in LastError(), CONFIGRET-style codes from GetDevNodeStatus.
#pragma once

#include <cstddef>
#include <cstdint>

namespace DevSvc {

// Opaque device information set; kInvalidSet (all bits set) when none could be built.
using DevInfoSet = void*;
inline DevInfoSet const kInvalidSet = reinterpret_cast<DevInfoSet>(~uintptr_t{0});

// Same layout as SP_DEVINFO_DATA: 28 bytes in a 32-bit build, 32 in a 64-bit build.
struct DevInfoData {
    uint32_t cbSize;
    uint8_t classGuid[16];
    uint32_t DevInst;
    uintptr_t reserved;
};

inline constexpr uint32_t DIGCF_PRESENT = 0x2;
inline constexpr uint32_t DIGCF_ALLCLASSES = 0x4;
inline constexpr uint32_t SPDRP_HARDWAREID = 1;
inline constexpr uint32_t SPDRP_CONFIGFLAGS = 10;
inline constexpr uint32_t CONFIGFLAG_REINSTALL = 0x20;
inline constexpr uint32_t INSTALLFLAG_FORCE = 1;
inline constexpr uint32_t SPOST_PATH = 1;
inline constexpr uint32_t MAX_PATH_CHARS = 260;

inline constexpr uint32_t ERROR_SUCCESS_CODE = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY_CODE = 8;
inline constexpr uint32_t ERROR_INVALID_DATA_CODE = 13;
inline constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER_CODE = 122;
inline constexpr uint32_t ERROR_NO_MORE_ITEMS_CODE = 259;
inline constexpr uint32_t ERROR_INVALID_HANDLE_CODE = 6;
inline constexpr uint32_t ERROR_NO_SUCH_DEVINST_CODE = 0xE000020B;

inline constexpr uint32_t CR_SUCCESS = 0;
inline constexpr uint32_t CR_NO_SUCH_DEVINST = 13;

// SetupDiGetClassDevsW(NULL, NULL, NULL, flags).
DevInfoSet GetClassDevs(uint32_t flags);

// SetupDiEnumDeviceInfo: TRUE and a filled element while `index` is inside the set.
bool EnumDeviceInfo(DevInfoSet set, uint32_t index, DevInfoData* element);

// SetupDiGetDeviceRegistryPropertyW with no type out-parameter. On FALSE with LastError() 122
// (ERROR_INSUFFICIENT_BUFFER), `*requiredSize` holds the size needed in bytes.
bool GetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                               uint8_t* buffer, uint32_t bufferSize, uint32_t* requiredSize);

// SetupDiSetDeviceRegistryPropertyW.
bool SetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                               const uint8_t* buffer, uint32_t size);

// SetupDiDestroyDeviceInfoList.
bool DestroyDeviceInfoList(DevInfoSet set);

// CM_Get_DevNode_Status: a CONFIGRET; CR_NO_SUCH_DEVINST when the node is not present now.
uint32_t GetDevNodeStatus(uint32_t* status, uint32_t* problemNumber, uint32_t devInst,
                          uint32_t flags);

// UpdateDriverForPlugAndPlayDevicesW(NULL, hardwareId, infPath, flags, &reboot).
bool UpdateDriverForDevices(const char16_t* hardwareId, const char16_t* infPath,
                            uint32_t installFlags, bool* rebootRequired);

// SetupCopyOEMInfW(infPath, NULL, SPOST_PATH, 0, destination, destinationChars, requiredSize,
// NULL).
bool CopyOEMInf(const char16_t* infPath, char16_t* destination, uint32_t destinationChars,
                uint32_t* requiredSize);

// GetLastError: the last error of the calling thread.
uint32_t LastError();

// Heap block for a hardware-ID list: nullptr (with LastError() set) when it cannot be had.
uint8_t* AllocateBuffer(size_t bytes);
void ReleaseBuffer(uint8_t* buffer);

} // namespace DevSvc
