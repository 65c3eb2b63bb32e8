// The DLL search of a Windows program, kept to the system folder.
#include "DllSearch.h"

#include "Win32.h"

void LimitDllSearchToSystemFolder() {
    // kernel32 is in every process already: binding to it loads nothing.
    static const auto setDefaultDllDirectories = Win32::BindSystemFunction<BOOL(WINAPI*)(DWORD)>(
        L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDefaultDllDirectories.call != nullptr) {
        setDefaultDllDirectories.call(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}
