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

namespace {

std::wstring FinalPath(HANDLE handle) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.assign(length + 1, L'\0');
    }
    return {};
}

std::wstring LongPath(const wchar_t* path) {
    const DWORD length = GetLongPathNameW(path, nullptr, 0);
    std::wstring buffer(length, L'\0');
    if (length == 0 || GetLongPathNameW(path, buffer.data(), length) != length - 1) {
        return path;
    }
    buffer.resize(length - 1);
    return buffer;
}

} // namespace

bool Win32::HandleIsAtName(HANDLE file, const std::u16string& path) {
    const std::wstring full = LongPath(Wide(path));
    const size_t split = full.find_last_of(L"\\/");
    if (split == std::wstring::npos || split + 1 >= full.size()) {
        return false;
    }
    const UniqueHandle folder =
        OwnHandle(CreateFileW(full.substr(0, split + 1).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) {
        return false;
    }
    std::wstring expected = FinalPath(folder.get());
    const std::wstring actual = FinalPath(file);
    if (expected.empty() || actual.empty()) {
        return false;
    }
    if (expected.back() != L'\\') {
        expected += L'\\';
    }
    expected += full.substr(split + 1);
    return CompareStringOrdinal(actual.c_str(), static_cast<int>(actual.size()), expected.c_str(),
                                static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

bool Win32::IsNameItself(HANDLE handle, const std::u16string& path) {
    return !NameIsReparsePoint(path) && HandleIsAtName(handle, path);
}

bool Win32::IsPlainFile(HANDLE file, const std::u16string& path, BY_HANDLE_FILE_INFORMATION* info) {
    return IsNameItself(file, path) && GetFileType(file) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(file, info) &&
           (info->dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                                      FILE_ATTRIBUTE_DEVICE)) == 0 &&
           info->nNumberOfLinks == 1;
}

// Asked before the open too: a name that already shows as a link is never opened.
Win32::UniqueHandle Win32::OpenPlainFile(const std::u16string& path, uint64_t* size) {
    if (NameIsReparsePoint(path)) {
        return nullptr;
    }
    UniqueHandle file = OwnHandle(CreateFileW(
        Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !IsPlainFile(file.get(), path, &info)) {
        return nullptr;
    }
    *size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    return file;
}

HANDLE Win32::CreateOrOpenName(const std::u16string& path, DWORD access, DWORD share) {
    HANDLE file = INVALID_HANDLE_VALUE;
    for (const DWORD disposition : {DWORD{CREATE_NEW}, DWORD{OPEN_EXISTING}}) {
        file = CreateFileW(Wide(path), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    return file;
}
