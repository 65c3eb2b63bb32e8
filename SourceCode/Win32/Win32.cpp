#include "Win32.h"

#include <cwchar>

// LOAD_LIBRARY_SEARCH_SYSTEM32 looks in the system folder alone. Windows 7 without KB2533623
// does not know the flag and rejects it with ERROR_INVALID_PARAMETER: there the DLL is named by
// its full path in the system folder, and LOAD_WITH_ALTERED_SEARCH_PATH looks for the DLLs it
// imports in that folder first. Nothing is looked for beside the program.
Win32::BoundAddress Win32::BindFromSystemFolder(const wchar_t* dll, const char* function) {
    HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        wchar_t path[MAX_PATH];
        const size_t folder = GetSystemDirectoryW(path, MAX_PATH);
        const size_t name = wcslen(dll);
        if (folder != 0 && folder + 1 + name < MAX_PATH) {
            path[folder] = L'\\';
            wmemcpy(path + folder + 1, dll, name + 1);
            module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    if (module == nullptr) {
        return {nullptr, ERROR_MOD_NOT_FOUND};
    }
    const FARPROC address = GetProcAddress(module, function);
    return {address, address != nullptr ? DWORD{ERROR_SUCCESS} : DWORD{ERROR_PROC_NOT_FOUND}};
}
