// The trace platform on Windows: each function is the Windows or C runtime call it names.
// Definitions use the qualified name, so a system macro that rewrote one would stop the build.
#include "TracePlatform.h"

#include <stdio.h>
#include <time.h>

#include "Win32.h"

using Win32::Wide;

uint32_t TracePlatform::ExecutablePath(char16_t* buffer, uint32_t capacity) {
    return GetModuleFileNameW(nullptr, Wide(buffer), capacity);
}

int32_t TracePlatform::ProfileInt(const char16_t* section, const char16_t* key,
                                  int32_t defaultValue, const char16_t* path) {
    return static_cast<int32_t>(
        GetPrivateProfileIntW(Wide(section), Wide(key), defaultValue, Wide(path)));
}

int32_t TracePlatform::OpenOverrideKey(KeyHandle* key) {
    HKEY opened = nullptr;
    const LSTATUS result = RegOpenKeyExW(HKEY_CURRENT_USER, L"XTrace", 0, KEY_QUERY_VALUE, &opened);
    *key = result == ERROR_SUCCESS ? opened : nullptr;
    return result;
}

int32_t TracePlatform::QueryOverride(KeyHandle key, const char16_t* name, uint8_t* data,
                                     uint32_t* size) {
    DWORD bytes = *size;
    const LSTATUS result =
        RegQueryValueExW(static_cast<HKEY>(key), Wide(name), nullptr, nullptr, data, &bytes);
    *size = bytes;
    return result;
}

void TracePlatform::CloseOverrideKey(KeyHandle key) {
    RegCloseKey(static_cast<HKEY>(key));
}

void TracePlatform::DebugChannelWrite(const char16_t* text) {
    OutputDebugStringW(Wide(text));
}

int64_t TracePlatform::CurrentTime() {
    return _time64(nullptr);
}

bool TracePlatform::ToLocalTime(int64_t time, LocalTime* out) {
    const __time64_t seconds = time;
    tm local{};
    if (_localtime64_s(&local, &seconds) != 0) {
        return false;
    }
    out->month = local.tm_mon + 1;
    out->day = local.tm_mday;
    out->hour = local.tm_hour;
    out->minute = local.tm_min;
    return true;
}

uint32_t TracePlatform::ThreadLastError() {
    return GetLastError();
}

void TracePlatform::SetThreadLastError(uint32_t error) {
    SetLastError(error);
}

// FILE_FLAG_OPEN_REPARSE_POINT opens a link itself instead of what it points to, and the handle
// then tells what the name really is. FILE_APPEND_DATA without FILE_WRITE_DATA writes at the end
// only; no sharing, as with "a+" under _SH_DENYRW.
bool TracePlatform::AppendToFile(const char16_t* path, const char* bytes, size_t count) {
    const HANDLE file =
        CreateFileW(Wide(path), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool plainFile =
        GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes &
         (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
        info.nNumberOfLinks == 1;
    if (plainFile) {
        // Binary: the bytes already hold CR LF and one byte per character.
        DWORD written = 0;
        WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
    }
    CloseHandle(file);
    if (!plainFile) {
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return plainFile;
}
