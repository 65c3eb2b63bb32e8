// The deployment log's platform on Windows: each function is the Windows calls it names.
// Definitions use the qualified name, so a system macro that rewrote one would stop the build.
#include "DeployPlatform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>

static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string FromWide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

struct HandleClose {
    void operator()(void* handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};
using Handle = std::unique_ptr<void, HandleClose>;

// Opens the name itself (FILE_FLAG_OPEN_REPARSE_POINT), then keeps it only when it is a plain
// disk file with this one name.
Handle OpenPlainFile(const std::u16string& path, uint64_t* size) {
    Handle file(CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file.get() == INVALID_HANDLE_VALUE || GetFileType(file.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes &
         (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ||
        info.nNumberOfLinks != 1) {
        return nullptr;
    }
    *size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    return file;
}

struct Reader {
    HANDLE pipe;
    std::string bytes;
};

DWORD WINAPI ReadAll(void* parameter) {
    auto* reader = static_cast<Reader*>(parameter);
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(reader->pipe, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        reader->bytes.append(chunk, read);
    }
    return 0;
}

} // namespace

std::vector<DeployPlatform::PlainFile> DeployPlatform::ListLogFiles(const std::u16string& folder) {
    std::vector<PlainFile> files;
    WIN32_FIND_DATAW found;
    const std::u16string pattern = folder + u"\\*.log";
    const HANDLE search = FindFirstFileW(Wide(pattern), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            0) {
            files.push_back({FromWide(found.cFileName, wcslen(found.cFileName)),
                             uint64_t{found.nFileSizeHigh} << 32 | found.nFileSizeLow});
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

std::optional<uint64_t> DeployPlatform::PlainFileSize(const std::u16string& path) {
    uint64_t size = 0;
    if (!OpenPlainFile(path, &size)) {
        return std::nullopt;
    }
    return size;
}

bool DeployPlatform::ReadPlainFile(const std::u16string& path, uint64_t offset, uint64_t maxBytes,
                                   std::string* bytes) {
    uint64_t size = 0;
    const Handle file = OpenPlainFile(path, &size);
    LARGE_INTEGER start;
    start.QuadPart = static_cast<LONGLONG>(offset);
    if (!file || offset > size || !SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) {
        return false;
    }
    bytes->assign(static_cast<size_t>(std::min(size - offset, maxBytes)), '\0');
    DWORD read = 0;
    return bytes->empty() || (ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()),
                                       &read, nullptr) &&
                              read == bytes->size());
}

bool DeployPlatform::RenameReplacing(const std::u16string& from, const std::u16string& to) {
    return MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// The program gets two pipes for its output, each read by a thread of its own so that neither
// can fill up and stop it; only their write ends are inherited.
DeployPlatform::Finished DeployPlatform::RunProgram(const std::u16string& program,
                                                    const std::vector<std::u16string>&,
                                                    const std::u16string& commandLine) {
    Finished finished;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) ||
        !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        finished.code = GetLastError();
        return finished;
    }
    const Handle outReadOwner(outRead), errReadOwner(errRead);
    Handle outWriteOwner(outWrite), errWriteOwner(errWrite);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::u16string line = commandLine; // CreateProcessW may write to it
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(Wide(program), reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr,
                        TRUE, 0, nullptr, nullptr, &startup, &process)) {
        finished.code = GetLastError();
        return finished;
    }
    finished.started = true;
    const Handle processOwner(process.hProcess), threadOwner(process.hThread);
    // Our copies of the write ends go, so that the reads end when the program's do.
    outWriteOwner.reset();
    errWriteOwner.reset();

    Reader out{outRead, {}};
    Reader err{errRead, {}};
    const Handle errThread(CreateThread(nullptr, 0, ReadAll, &err, 0, nullptr));
    ReadAll(&out);
    if (errThread) {
        WaitForSingleObject(errThread.get(), INFINITE);
    } else {
        ReadAll(&err);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    finished.code = code;
    finished.out = std::move(out.bytes);
    finished.err = std::move(err.bytes);
    return finished;
}

// A console gets wide text; a pipe or a file gets the UTF-8 bytes.
void DeployPlatform::WriteOutput(bool error, const std::string& utf8) {
    const HANDLE stream = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (utf8.empty() || stream == INVALID_HANDLE_VALUE || stream == nullptr) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    const int bytes = static_cast<int>(utf8.size());
    if (GetConsoleMode(stream, &mode)) {
        const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, nullptr, 0);
        std::wstring wide(static_cast<size_t>(chars > 0 ? chars : 0), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, wide.data(), chars);
        WriteConsoleW(stream, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::u16string DeployPlatform::ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &length) ? FromWide(name, length) : u"?";
}

std::u16string DeployPlatform::AccountName() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return u"?";
    }
    const Handle tokenOwner(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return u"?";
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
        return u"?";
    }
    const std::u16string account = FromWide(name, nameLength);
    return domainLength > 0 ? FromWide(domain, domainLength) + u"\\" + account : account;
}

DeployPlatform::LocalNow DeployPlatform::Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone;
    const DWORD kind = GetTimeZoneInformation(&zone);
    const LONG extra = kind == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                       : kind == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                       : 0;
    // The bias is what local time adds up to UTC, in minutes.
    return {now.wYear,
            now.wMonth,
            now.wDay,
            now.wHour,
            now.wMinute,
            now.wSecond,
            -static_cast<int>(zone.Bias + extra)};
}
