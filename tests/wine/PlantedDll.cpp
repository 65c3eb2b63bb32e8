// Test-only DLL for the end-to-end suite under Wine: what an attacker would leave beside a program
// that runs elevated, built once as newdev.dll and once as cfgmgr32.dll. When any process loads it,
// it leaves an empty file named after itself with ".loaded" appended, beside itself, so that the
// suite can tell whether a program ever ran it. It exports the functions the programs once
// imported from those two DLLs, so that a program that still imported them would load it.
#include "Win32.h"

#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        static constexpr wchar_t kSuffix[] = L".loaded";
        wchar_t path[MAX_PATH + sizeof(kSuffix) / sizeof(kSuffix[0])];
        const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            wcscpy(path + length, kSuffix);
            const HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
            if (marker != INVALID_HANDLE_VALUE) {
                CloseHandle(marker);
            }
        }
    }
    return TRUE;
}

// Exported as UpdateDriverForPlugAndPlayDevicesW (PlantedDll.def).
extern "C" BOOL WINAPI PlantedUpdateDriver(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// Exported as CM_Get_DevNode_Status: CR_FAILURE.
extern "C" DWORD WINAPI PlantedNodeStatus(PULONG, PULONG, DWORD, ULONG) {
    return 0x13;
}
