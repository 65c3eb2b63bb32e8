// Windows start-up: the module instance and the full command line of the process.
#include <windows.h>

#include "AppFramework.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

bool AppFrameworkStart() {
    return AppFrameworkInit(GetModuleHandleW(nullptr), nullptr,
                            reinterpret_cast<const char16_t*>(GetCommandLineW()), 0);
}
