// The one door to <windows.h>: every Windows file of the programs includes this header, never
// the system's own, so that the macros that shape it are set once, the assumption the wide
// casts rest on is checked once, and what every Windows file needs is written once: the casts
// between our UTF-16 text and the system's wide strings, a handle that closes itself, the check
// of a name's own attributes for a link, and the binding of a function at run time from the
// system folder. Windows builds only.
//
// A portable header of ours that names constants the system headers define as macros
// (DeviceServices.h: DIGCF_PRESENT, CR_SUCCESS, ...) must come first.
#pragma once

#ifndef _WIN32
#error "Win32.h is for Windows builds only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Our text is char16_t, the system's wchar_t: the casts below need them to be the same size.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace Win32 {

inline const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* Wide(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}
inline const wchar_t* Wide(const std::u16string& text) {
    return Wide(text.c_str());
}
inline std::u16string FromWide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
// "" for a null pointer.
inline std::u16string FromWide(const wchar_t* text) {
    return text != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(text)) : u"";
}

struct HandleClose {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};
// A kernel handle closed when it goes. Take handles with OwnHandle, so that both of the
// system's "no handle" values (NULL, INVALID_HANDLE_VALUE) read as empty.
using UniqueHandle = std::unique_ptr<void, HandleClose>;
inline UniqueHandle OwnHandle(HANDLE handle) {
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// Whether the name itself is a symbolic link, junction or other reparse point, by its own
// attributes. Windows gives the same answer as a handle opened with FILE_FLAG_OPEN_REPARSE_POINT;
// Wine 8 opens what a symbolic link leads to even then, and the name's attributes tell a link to
// a folder (not one to a file: see HandleIsAtName). Asked before a name is opened and again once
// it is, so a link planted in between is seen too.
inline bool NameIsReparsePoint(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Whether `file`, opened by the name `path` with FILE_FLAG_OPEN_REPARSE_POINT, is the file of
// that name: the path the system gives for the handle (GetFinalPathNameByHandleW) is the one it
// gives for the name's folder, opened as such, followed by the name's last part (its long form,
// compared as the file system compares names). Windows gives that for every handle opened so;
// Wine 8 opens what a symbolic link to a file leads to, reports neither the handle nor the name
// as a reparse point, and gives the path of the file the link leads to: this is the call it
// gets right. Links in the folders above the name are followed, as any open follows them.
bool HandleIsAtName(HANDLE file, const std::u16string& path);

// Whether `handle`, opened by the name `path` with FILE_FLAG_OPEN_REPARSE_POINT, is the name
// itself, never what a link there leads to: the name's attributes show no reparse point (asked
// after the open, so a link planted since the caller's first look is seen) and the handle is at
// the name (HandleIsAtName). For a file or a folder.
bool IsNameItself(HANDLE handle, const std::u16string& path);

// Whether `file`, opened by the name `path` with FILE_FLAG_OPEN_REPARSE_POINT, is a plain disk
// file with this one name: the name itself (IsNameItself), no reparse point, folder or device,
// and one hard link. `info` gets what the handle tells.
bool IsPlainFile(HANDLE file, const std::u16string& path, BY_HANDLE_FILE_INFORMATION* info);

// The name `path` itself opened for reading, kept only when it is a plain file (IsPlainFile);
// empty otherwise. `size` gets its size.
UniqueHandle OpenPlainFile(const std::u16string& path, uint64_t* size);

// Opens the name `path` (FILE_FLAG_OPEN_REPARSE_POINT) with `access` and `share`, making the
// file when the name is free: CREATE_NEW, then OPEN_EXISTING. OPEN_ALWAYS through a dangling
// link, which Wine follows, would make the file the link names; CREATE_NEW never does. The
// caller asks NameIsReparsePoint first and IsPlainFile of the handle. INVALID_HANDLE_VALUE with
// the system's error when nothing could be opened.
HANDLE CreateOrOpenName(const std::u16string& path, DWORD access, DWORD share);

// A function of a system DLL, looked for in the system folder and nowhere else: its address, or
// nullptr with the reason (ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND).
struct BoundAddress {
    FARPROC address;
    DWORD error;
};
BoundAddress BindFromSystemFolder(const wchar_t* dll, const char* function);

template <typename Fn> struct SystemFunction {
    Fn call; // nullptr when the function could not be had
    DWORD error;
};
// Binds `function` of `dll` with the type of the system's declaration of it, Fn. A DLL outside
// the KnownDLLs is otherwise looked for beside the program first, where a planted one would run
// with the program's rights. Callers keep the result in a function-local static: a function that
// cannot be had stays missing.
template <typename Fn> SystemFunction<Fn> BindSystemFunction(const wchar_t* dll, const char* name) {
    const BoundAddress bound = BindFromSystemFolder(dll, name);
    return {reinterpret_cast<Fn>(reinterpret_cast<void*>(bound.address)), bound.error};
}

} // namespace Win32
