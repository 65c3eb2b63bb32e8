// Device services on Windows that only read the device state: each function is the Setup API or
// Configuration Manager call it names; cfgmgr32's is bound at run time from the system folder.
#include "SetupCalls-win32.h"

#include <cfgmgr32.h>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

static_assert(sizeof(DevSvc::DevInfoData) == sizeof(SP_DEVINFO_DATA));
// The 32-bit SP_DEVINFO_DATA is byte-packed; ours is at least as aligned, which is what a cast
// needs.
static_assert(alignof(DevSvc::DevInfoData) >= alignof(SP_DEVINFO_DATA));
static_assert(offsetof(DevSvc::DevInfoData, cbSize) == offsetof(SP_DEVINFO_DATA, cbSize));
static_assert(offsetof(DevSvc::DevInfoData, classGuid) == offsetof(SP_DEVINFO_DATA, ClassGuid));
static_assert(offsetof(DevSvc::DevInfoData, DevInst) == offsetof(SP_DEVINFO_DATA, DevInst));
static_assert(offsetof(DevSvc::DevInfoData, reserved) == offsetof(SP_DEVINFO_DATA, Reserved));
static_assert(sizeof(DevSvc::DevInfoSet) == sizeof(HDEVINFO));

using DevSvc::Win32Calls::Native;
using Win32::Wide;

// INVALID_HANDLE_VALUE has all bits set, as kInvalidSet does, so the set is passed on as it is.
DevSvc::DevInfoSet DevSvc::GetClassDevs(uint32_t flags) {
    return SetupDiGetClassDevsW(nullptr, nullptr, nullptr, flags);
}

bool DevSvc::EnumDeviceInfo(DevInfoSet set, uint32_t index, DevInfoData* element) {
    return SetupDiEnumDeviceInfo(set, index, Native(element)) != FALSE;
}

// Out-parameters go through copies of the system's own types (DWORD, ULONG, BOOL); a value the
// call leaves alone comes back unchanged.
bool DevSvc::GetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                                       uint8_t* buffer, uint32_t bufferSize,
                                       uint32_t* requiredSize) {
    DWORD required = requiredSize != nullptr ? *requiredSize : 0;
    const BOOL done = SetupDiGetDeviceRegistryPropertyW(
        set, Native(element), property, nullptr, buffer, bufferSize,
        requiredSize != nullptr ? &required : nullptr);
    if (requiredSize != nullptr) {
        *requiredSize = required;
    }
    return done != FALSE;
}

bool DevSvc::DestroyDeviceInfoList(DevInfoSet set) {
    return SetupDiDestroyDeviceInfoList(set) != FALSE;
}

// Loaded once, at the first call; a DLL or function that is missing stays missing.
uint32_t DevSvc::GetDevNodeStatus(uint32_t* status, uint32_t* problemNumber, uint32_t devInst,
                                  uint32_t flags) {
    static const auto cmGetDevNodeStatus =
        Win32::BindSystemFunction<decltype(&CM_Get_DevNode_Status)>(L"cfgmgr32.dll",
                                                                    "CM_Get_DevNode_Status");
    if (cmGetDevNodeStatus.call == nullptr) {
        SetLastError(cmGetDevNodeStatus.error);
        return CR_FAILURE;
    }
    ULONG nodeStatus = status != nullptr ? *status : 0;
    ULONG problem = problemNumber != nullptr ? *problemNumber : 0;
    const CONFIGRET result =
        cmGetDevNodeStatus.call(status != nullptr ? &nodeStatus : nullptr,
                                problemNumber != nullptr ? &problem : nullptr, devInst, flags);
    if (status != nullptr) {
        *status = nodeStatus;
    }
    if (problemNumber != nullptr) {
        *problemNumber = problem;
    }
    return result;
}

uint32_t DevSvc::LastError() {
    return GetLastError();
}

uint8_t* DevSvc::AllocateBuffer(size_t bytes) {
    uint8_t* buffer = new (std::nothrow) uint8_t[bytes]();
    if (buffer == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return buffer;
}

void DevSvc::ReleaseBuffer(uint8_t* buffer) {
    delete[] buffer;
}
