// SafeFile on Windows: each function is the Windows calls it names. The writer opens the file
// for reading and writing and shares it for reading and deletion only: a reader (a log viewer,
// with read or full sharing) never blocks it, a second writer gets a sharing violation, and the
// roll-over may rename it through a handle of its own. Every name is opened with
// FILE_FLAG_OPEN_REPARSE_POINT and its handle checked. Wine opens what a symbolic link leads to
// even then: there the name's own attributes, asked before and after the open, tell a link to a
// folder, and the handle's path a link to a file (Win32.h); and a file is made with CREATE_NEW,
// which never makes what a dangling link names.
#include "SafeFile.h"

#include <algorithm>
#include <vector>

#include "Win32.h"

using Win32::Wide;

namespace {

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

SafeFile::FileResult SafeFile::AppendFile::Open(const std::u16string& path) {
    Close();
    // Before the open too: OPEN_ALWAYS through a link Wine follows would create what it leads to.
    if (Win32::NameIsReparsePoint(path)) {
        error_ = ERROR_ACCESS_DENIED;
        return FileResult::NotPlain;
    }
    // CREATE_NEW, then OPEN_EXISTING: OPEN_ALWAYS would make the file a dangling link names.
    const HANDLE file = Win32::CreateOrOpenName(path, GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_DELETE);
    if (file == INVALID_HANDLE_VALUE) {
        error_ = GetLastError();
        return error_ == ERROR_SHARING_VIOLATION || error_ == ERROR_LOCK_VIOLATION
                   ? FileResult::SharingViolation
                   : FileResult::NotOpened;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!Win32::IsPlainFile(file, path, &info)) {
        CloseHandle(file);
        error_ = ERROR_ACCESS_DENIED;
        return FileResult::NotPlain;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    path_ = path;
    return FileResult::Done;
}

std::optional<uint64_t> SafeFile::AppendFile::Size() const {
    LARGE_INTEGER size{};
    if (handle_ == kNone || !GetFileSizeEx(AsHandle(handle_), &size)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(size.QuadPart);
}

// No other writer has the file open, so its end is where this write goes.
SafeFile::FileResult SafeFile::AppendFile::Append(const char* bytes, size_t count) {
    const std::optional<uint64_t> before = Size();
    LARGE_INTEGER end{};
    if (!before || !SetFilePointerEx(AsHandle(handle_), LARGE_INTEGER{}, &end, FILE_END)) {
        error_ = GetLastError();
        return FileResult::WriteFailed;
    }
    size_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(AsHandle(handle_), bytes + done, chunk, &written, nullptr) || written == 0) {
            error_ = written == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_WRITE_FAULT
                                                                     : GetLastError();
            // Taken back: the file ends where it ended before.
            LARGE_INTEGER back{};
            back.QuadPart = static_cast<LONGLONG>(*before);
            if (SetFilePointerEx(AsHandle(handle_), back, nullptr, FILE_BEGIN)) {
                SetEndOfFile(AsHandle(handle_));
            }
            return FileResult::WriteFailed;
        }
        done += written;
    }
    return FileResult::Done;
}

// A second handle, opened by name with DELETE access, renames the file once its volume and file
// index prove that the name still leads to the file this one holds.
bool SafeFile::AppendFile::RenameTo(const std::u16string& to) {
    BY_HANDLE_FILE_INFORMATION held{};
    if (handle_ == kNone || !GetFileInformationByHandle(AsHandle(handle_), &held)) {
        return false;
    }
    const HANDLE named = CreateFileW(Wide(path_), DELETE | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        error_ = GetLastError();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    bool renamed = GetFileInformationByHandle(named, &info) && Win32::IsNameItself(named, path_) &&
                   info.dwVolumeSerialNumber == held.dwVolumeSerialNumber &&
                   info.nFileIndexHigh == held.nFileIndexHigh &&
                   info.nFileIndexLow == held.nFileIndexLow;
    if (renamed) {
        const size_t nameBytes = to.size() * sizeof(wchar_t);
        std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(nameBytes);
        std::copy(to.begin(), to.end(), reinterpret_cast<char16_t*>(rename->FileName));
        renamed = SetFileInformationByHandle(named, FileRenameInfo, rename,
                                             static_cast<DWORD>(buffer.size())) != FALSE;
        error_ = renamed ? 0 : GetLastError();
    }
    CloseHandle(named);
    if (renamed) {
        path_ = to;
    }
    return renamed;
}

void SafeFile::AppendFile::Close() {
    if (handle_ != kNone) {
        CloseHandle(AsHandle(handle_));
        handle_ = kNone;
    }
}

std::optional<uint64_t> SafeFile::PlainFileSize(const std::u16string& path) {
    uint64_t size = 0;
    if (!Win32::OpenPlainFile(path, &size)) {
        return std::nullopt;
    }
    return size;
}

bool SafeFile::ReadPlainFile(const std::u16string& path, uint64_t offset, uint64_t maxBytes,
                             std::string* bytes) {
    uint64_t size = 0;
    const Win32::UniqueHandle file = Win32::OpenPlainFile(path, &size);
    if (!file) {
        return false;
    }
    LARGE_INTEGER start;
    start.QuadPart = static_cast<LONGLONG>(offset);
    if (offset > size || !SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) {
        return false;
    }
    bytes->assign(static_cast<size_t>(std::min(size - offset, maxBytes)), '\0');
    DWORD read = 0;
    return bytes->empty() || (ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()),
                                       &read, nullptr) &&
                              read == bytes->size());
}

bool SafeFile::PlainFileReader::Open(const std::u16string& path) {
    Close();
    Win32::UniqueHandle file = Win32::OpenPlainFile(path, &size_);
    handle_ = file ? reinterpret_cast<intptr_t>(file.release()) : kNone;
    return handle_ != kNone;
}

bool SafeFile::PlainFileReader::Read(char* buffer, size_t count, size_t* read) {
    *read = 0;
    while (handle_ != kNone && *read < count) {
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(count - *read, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(AsHandle(handle_), buffer + *read, ask, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            break;
        }
        *read += got;
    }
    return handle_ != kNone;
}

void SafeFile::PlainFileReader::Close() {
    if (handle_ != kNone) {
        CloseHandle(AsHandle(handle_));
        handle_ = kNone;
    }
}
