// The trace platform on Windows: each function is the Windows call it names.
// Definitions use the qualified name, so a system macro that rewrote one would stop the build.
#include "TracePlatform.h"

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

uint32_t TracePlatform::ThreadLastError() {
    return GetLastError();
}

void TracePlatform::SetThreadLastError(uint32_t error) {
    SetLastError(error);
}
