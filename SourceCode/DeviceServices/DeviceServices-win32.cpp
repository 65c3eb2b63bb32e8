// Device services on Windows: each function is the Setup API, Configuration Manager or
// driver-update call it names.
//
// DeviceServices.h comes first, before the system headers define macros with the names of its
// constants (DIGCF_PRESENT, CR_SUCCESS, ...). Below, those names are the system's macros, which
// have the same values. Definitions are written with the qualified name so that one whose name a
// system macro rewrites fails to compile instead of defining some other function.
#include "DeviceServices.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cfgmgr32.h>
#include <cstddef>
#include <new>
#include <newdev.h>
#include <setupapi.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(DevSvc::DevInfoData) == sizeof(SP_DEVINFO_DATA));
// The 32-bit SP_DEVINFO_DATA is byte-packed; ours is at least as aligned, which is what a cast
// needs.
static_assert(alignof(DevSvc::DevInfoData) >= alignof(SP_DEVINFO_DATA));
static_assert(offsetof(DevSvc::DevInfoData, cbSize) == offsetof(SP_DEVINFO_DATA, cbSize));
static_assert(offsetof(DevSvc::DevInfoData, classGuid) == offsetof(SP_DEVINFO_DATA, ClassGuid));
static_assert(offsetof(DevSvc::DevInfoData, DevInst) == offsetof(SP_DEVINFO_DATA, DevInst));
static_assert(offsetof(DevSvc::DevInfoData, reserved) == offsetof(SP_DEVINFO_DATA, Reserved));
static_assert(sizeof(DevSvc::DevInfoSet) == sizeof(HDEVINFO));

namespace {
SP_DEVINFO_DATA* Native(DevSvc::DevInfoData* element) {
    return reinterpret_cast<SP_DEVINFO_DATA*>(element);
}
const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
} // namespace

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

bool DevSvc::SetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                                       const uint8_t* buffer, uint32_t size) {
    return SetupDiSetDeviceRegistryPropertyW(set, Native(element), property, buffer, size) != FALSE;
}

bool DevSvc::DestroyDeviceInfoList(DevInfoSet set) {
    return SetupDiDestroyDeviceInfoList(set) != FALSE;
}

uint32_t DevSvc::GetDevNodeStatus(uint32_t* status, uint32_t* problemNumber, uint32_t devInst,
                                  uint32_t flags) {
    ULONG nodeStatus = status != nullptr ? *status : 0;
    ULONG problem = problemNumber != nullptr ? *problemNumber : 0;
    const CONFIGRET result =
        CM_Get_DevNode_Status(status != nullptr ? &nodeStatus : nullptr,
                              problemNumber != nullptr ? &problem : nullptr, devInst, flags);
    if (status != nullptr) {
        *status = nodeStatus;
    }
    if (problemNumber != nullptr) {
        *problemNumber = problem;
    }
    return result;
}

bool DevSvc::UpdateDriverForDevices(const char16_t* hardwareId, const char16_t* infPath,
                                    uint32_t installFlags, bool* rebootRequired) {
    BOOL reboot = FALSE;
    const BOOL done =
        UpdateDriverForPlugAndPlayDevicesW(nullptr, Wide(hardwareId), Wide(infPath), installFlags,
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
