// Windows start-up: the module instance and the full command line of the process.
#include "AppFramework.h"

#include "Win32.h"

bool AppFrameworkStart() {
    return AppFrameworkInit(GetModuleHandleW(nullptr), nullptr,
                            reinterpret_cast<const char16_t*>(GetCommandLineW()), 0);
}
