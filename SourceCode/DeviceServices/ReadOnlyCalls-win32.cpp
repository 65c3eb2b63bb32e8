// The device services' further reads on Windows, which the companions use: instance IDs, the
// driver key's values, the INF folder and its files, and whether the process runs under WOW64.
// Each function is the Setup API, registry or file call it names (ReadOnlyCalls-host.cpp stands
// in on the host).
#include "SetupCalls-win32.h"

#include <cstdint>
#include <string>
#include <vector>

using DevSvc::Win32Calls::Native;
using Win32::Wide;

bool DevSvc::GetDeviceInstanceId(DevInfoSet set, DevInfoData* element, char16_t* buffer,
                                 uint32_t bufferChars, uint32_t* requiredChars) {
    DWORD required = requiredChars != nullptr ? *requiredChars : 0;
    const BOOL done =
        SetupDiGetDeviceInstanceIdW(set, Native(element), reinterpret_cast<wchar_t*>(buffer),
                                    bufferChars, requiredChars != nullptr ? &required : nullptr);
    if (requiredChars != nullptr) {
        *requiredChars = required;
    }
    return done != FALSE;
}

uint32_t DevSvc::QueryDriverKeyValue(DevInfoSet set, DevInfoData* element, const char16_t* name,
                                     uint32_t* type, uint8_t* buffer, uint32_t* dataBytes) {
    const HKEY key =
        SetupDiOpenDevRegKey(set, Native(element), DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD valueType = 0;
    DWORD size = dataBytes != nullptr ? *dataBytes : 0;
    const LONG result = RegQueryValueExW(key, Wide(name), nullptr, &valueType, buffer,
                                         dataBytes != nullptr ? &size : nullptr);
    RegCloseKey(key);
    if (type != nullptr) {
        *type = valueType;
    }
    if (dataBytes != nullptr) {
        *dataBytes = size;
    }
    return static_cast<uint32_t>(result);
}

uint32_t DevSvc::GetInfFolder(char16_t* buffer, uint32_t bufferChars) {
    static constexpr wchar_t kInf[] = L"\\INF";
    constexpr uint32_t kInfChars = sizeof(kInf) / sizeof(kInf[0]); // NUL included
    wchar_t* out = reinterpret_cast<wchar_t*>(buffer);
    const UINT length = GetSystemWindowsDirectoryW(out, bufferChars);
    if (length == 0) {
        return 0;
    }
    if (length >= bufferChars || bufferChars - length < kInfChars) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (uint32_t i = 0; i < kInfChars; ++i) {
        out[length + i] = kInf[i];
    }
    return length + kInfChars - 1;
}

bool DevSvc::ListFiles(const char16_t* pattern, std::vector<FoundFile>* files) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Wide(pattern), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            files->push_back({reinterpret_cast<const char16_t*>(found.cFileName),
                              (uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow});
        }
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    SetLastError(error);
    return error == ERROR_NO_MORE_FILES;
}

uint32_t DevSvc::FileAttributesOf(const char16_t* path) {
    return GetFileAttributesW(Wide(path));
}

bool DevSvc::ReadWholeFile(const char16_t* path, uint64_t maxBytes, std::vector<uint8_t>* content) {
    const HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Only a disk file is read: a pipe or a device could block the read or never end.
    const DWORD type = GetFileType(file);
    DWORD error = type == FILE_TYPE_DISK ? DWORD{0}
                  : type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR
                      ? GetLastError()
                      : DWORD{ERROR_BAD_FILE_TYPE};
    LARGE_INTEGER size;
    bool done = error == 0 && GetFileSizeEx(file, &size) != FALSE;
    if (!done && error == 0) {
        error = GetLastError();
    }
    if (done && static_cast<uint64_t>(size.QuadPart) > maxBytes) {
        done = false;
        error = ERROR_FILE_TOO_LARGE;
    }
    if (done) {
        content->assign(static_cast<size_t>(size.QuadPart), 0);
        DWORD read = 0;
        done = content->empty() ||
               (ReadFile(file, content->data(), static_cast<DWORD>(content->size()), &read,
                         nullptr) != FALSE &&
                read == content->size());
        if (!done) {
            error = GetLastError() != 0 ? GetLastError() : ERROR_READ_FAULT;
        }
    }
    CloseHandle(file);
    SetLastError(error);
    return done;
}

bool DevSvc::GetOriginalInfName(const char16_t* infPath, std::u16string* name) {
    DWORD bytes = 0;
    if (!SetupGetInfInformationW(Wide(infPath), INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &bytes) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    if (bytes == 0) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    // SP_INF_INFORMATION holds DWORDs: the block is allocated as DWORDs to keep their alignment.
    std::vector<DWORD> information((bytes + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* info = reinterpret_cast<PSP_INF_INFORMATION>(information.data());
    if (!SetupGetInfInformationW(Wide(infPath), INFINFO_INF_NAME_IS_ABSOLUTE, info,
                                 static_cast<DWORD>(information.size() * sizeof(DWORD)), nullptr)) {
        return false;
    }
    SP_ORIGINAL_FILE_INFO_W original = {};
    original.cbSize = sizeof(original);
    if (!SetupQueryInfOriginalFileInformationW(info, 0, nullptr, &original)) {
        return false;
    }
    original.OriginalInfName[MAX_PATH - 1] = L'\0';
    name->assign(reinterpret_cast<const char16_t*>(original.OriginalInfName));
    return true;
}

bool DevSvc::RunningUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
}
