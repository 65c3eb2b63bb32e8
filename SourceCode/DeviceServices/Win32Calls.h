// What the two Windows device-services files share: casts to the system's types and the loading
// of functions from the system folder. Windows builds only.
//
// DeviceServices.h comes first, before the system headers define macros with the names of its
// constants (DIGCF_PRESENT, CR_SUCCESS, ...). After this header those names are the system's
// macros, which have the same values. Definitions are written with the qualified name so that
// one whose name a system macro rewrites fails to compile instead of defining some other
// function.
#pragma once

#include "DeviceServices.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <setupapi.h>

namespace DevSvc::Win32Calls {

inline SP_DEVINFO_DATA* Native(DevInfoData* element) {
    return reinterpret_cast<SP_DEVINFO_DATA*>(element);
}

inline const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

// A function of a DLL outside the KnownDLLs, loaded from the system folder and nowhere else:
// its address, or nullptr with the reason (ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND).
struct SystemFunction {
    FARPROC address;
    DWORD error;
};
SystemFunction LoadSystemFunction(const wchar_t* dll, const char* function);

// The function's address as the type of the system's declaration of it.
template <typename Fn> Fn AddressAs(const SystemFunction& function) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(function.address));
}

} // namespace DevSvc::Win32Calls
