// The Windows platform calls a run of Installer.exe makes for a hardware ID that no device has,
// and nothing else: no trace formatting, no match rule, no framework. scripts/bench.sh times it
// against Installer.exe under Wine, so that the difference is what the program adds to the
// system's own work. Built by the script with mingw-w64, not by CMake.
//
//   PlatformCalls.exe <full path of the INF>
#include "Win32.h"

#include <setupapi.h>

#include <initializer_list>
#include <new>

namespace {

// Reads every device's hardware-ID list into a buffer renewed while the system asks for more,
// as the lookup does.
void Walk(DWORD flags) {
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof(element);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &element); ++i) {
        DWORD offered = MAX_PATH;
        BYTE* buffer = new (std::nothrow) BYTE[offered + 2]();
        for (int renewals = 0; buffer != nullptr && renewals <= 8; ++renewals) {
            DWORD required = 0;
            if (SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_HARDWAREID, nullptr, buffer,
                                                  offered, &required) ||
                GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= offered) {
                break;
            }
            delete[] buffer;
            buffer = new (std::nothrow) BYTE[required + 2]();
            offered = required;
        }
        delete[] buffer;
    }
    SetupDiDestroyDeviceInfoList(set);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // The trace's start-up: the settings file beside the program and the per-user key.
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD folder = 0;
    for (DWORD i = 0; i < length; ++i) {
        folder = path[i] == L'\\' ? i + 1 : folder;
    }
    lstrcpynW(path + folder, L"TqDbgCfg.ini", MAX_PATH - static_cast<int>(folder));
    for (const wchar_t* key : {L"LOGFILE", L"VIEW", L"LEVEL"}) {
        GetPrivateProfileIntW(L"OUTPUT", key, 0, path);
    }
    HKEY overrides = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"XTrace", 0, KEY_READ, &overrides) == ERROR_SUCCESS) {
        for (const wchar_t* name : {L"LOGFILE", L"VIEW", L"LEVEL"}) {
            DWORD value = 0;
            DWORD size = sizeof(value);
            RegQueryValueExW(overrides, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                             &size);
        }
        RegCloseKey(overrides);
    }

    // No present device has the ID: the INF is staged, then all known devices are looked at.
    Walk(DIGCF_PRESENT | DIGCF_ALLCLASSES);
    wchar_t staged[MAX_PATH];
    DWORD required = 0;
    SetupCopyOEMInfW(argc > 1 ? argv[1] : L"", nullptr, SPOST_PATH, 0, staged, MAX_PATH, &required,
                     nullptr);
    Walk(DIGCF_ALLCLASSES);
    return 0;
}
