// What the two Windows device-services files share: the Setup API's declarations after the Win32
// gateway, and the cast of our element to the system's. Windows builds only.
//
// DeviceServices.h comes first, before the system headers define macros with the names of its
// constants (DIGCF_PRESENT, CR_SUCCESS, ...). After this header those names are the system's
// macros, which have the same values. Definitions are written with the qualified name so that
// one whose name a system macro rewrites fails to compile instead of defining some other
// function.
#pragma once

#include "DeviceServices.h"
#include "Win32.h"

#include <setupapi.h>

namespace DevSvc::Win32Calls {

inline SP_DEVINFO_DATA* Native(DevInfoData* element) {
    return reinterpret_cast<SP_DEVINFO_DATA*>(element);
}

} // namespace DevSvc::Win32Calls
