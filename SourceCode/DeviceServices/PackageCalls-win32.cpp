// The device services' reads that judge whose package a staged copy is, on Windows: each
// function is the system call it names. SetupGetInfDriverStoreLocationW is bound at run time from
// the system folder, since older setupapi import libraries lack it and Wine's is a stub.
#include "SetupCalls-win32.h"

#include <cstdint>
#include <string>
#include <vector>

using Win32::BindSystemFunction;
using Win32::OwnHandle;
using Win32::Wide;

namespace {

using DriverStoreLocationFn = BOOL(WINAPI*)(PCWSTR, PSP_ALTPLATFORM_INFO, PCWSTR, PWSTR, DWORD,
                                            PDWORD);

} // namespace

bool DevSvc::ReadStoredCatalog(const char16_t* publishedInf, const char16_t* catalogName,
                               uint64_t maxBytes, std::vector<uint8_t>* content) {
    static const auto location = BindSystemFunction<DriverStoreLocationFn>(
        L"setupapi.dll", "SetupGetInfDriverStoreLocationW");
    if (location.call == nullptr) {
        SetLastError(location.error);
        return false;
    }
    std::vector<wchar_t> stored(MAX_PATH);
    DWORD required = 0;
    if (!location.call(Wide(publishedInf), nullptr, nullptr, stored.data(),
                       static_cast<DWORD>(stored.size()), &required)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= stored.size()) {
            return false;
        }
        stored.assign(required, L'\0');
        if (!location.call(Wide(publishedInf), nullptr, nullptr, stored.data(),
                           static_cast<DWORD>(stored.size()), nullptr)) {
            return false;
        }
    }
    stored.back() = L'\0';
    // The catalog is in the folder of the INF the store names.
    std::u16string path = Win32::FromWide(stored.data());
    const size_t cut = path.find_last_of(u'\\');
    path.resize(cut == std::u16string::npos ? 0 : cut + 1);
    return ReadWholeFile((path + catalogName).c_str(), maxBytes, content);
}

uint32_t DevSvc::GetCatalogRootFolder(char16_t* buffer, uint32_t bufferChars) {
    static const wchar_t kCatalogRoot[] = L"\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";
    constexpr uint32_t kRootChars = sizeof(kCatalogRoot) / sizeof(wchar_t) - 1;
    const UINT length = GetSystemDirectoryW(Wide(buffer), bufferChars);
    if (length == 0) {
        return 0;
    }
    if (length + kRootChars >= bufferChars) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::char_traits<wchar_t>::copy(Wide(buffer) + length, kCatalogRoot, kRootChars + 1);
    return length + kRootChars;
}

bool DevSvc::RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool DevSvc::SameFileName(const std::u16string& a, const std::u16string& b) {
    return CompareStringOrdinal(Wide(a), static_cast<int>(a.size()), Wide(b),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

uint32_t DevSvc::SameFile(const char16_t* a, const char16_t* b, bool* same) {
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const char16_t* paths[2] = {a, b};
    for (int i = 0; i < 2; ++i) {
        const Win32::UniqueHandle file = OwnHandle(
            CreateFileW(Wide(paths[i]), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (file == nullptr || !GetFileInformationByHandle(file.get(), &info[i])) {
            return GetLastError();
        }
    }
    *same = info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
            info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
            info[0].nFileIndexLow == info[1].nFileIndexLow;
    return 0;
}
