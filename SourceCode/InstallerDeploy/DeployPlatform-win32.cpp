// The deploy platform on Windows: each function is the Windows calls it names. Definitions use
// the qualified name, so a system macro that rewrote one would stop the build.
#include "DeployPlatform.h"

#include <cwchar>

#include "DeployCommandLine.h"
#include "Win32.h"
// After Win32.h, which includes windows.h:
#include <sddl.h>
#include <wincrypt.h>

#include <memory>

using Win32::FromWide;
using Win32::OwnHandle;
using Win32::Wide;

namespace {

// Reads what the pipe holds now, without waiting for more. False once every writer has closed it.
bool ReadAvailable(HANDLE pipe, std::string* bytes) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            return false;
        }
        if (available == 0) {
            return true;
        }
        char chunk[4096];
        DWORD read = 0;
        const DWORD wanted = available < sizeof(chunk) ? available : DWORD{sizeof(chunk)};
        if (!ReadFile(pipe, chunk, wanted, &read, nullptr) || read == 0) {
            return false;
        }
        bytes->append(chunk, read);
    }
}

// A string the system fills: `call(buffer, capacity)` returns the length it needs or wrote.
template <typename Call> std::u16string SystemString(Call call) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return FromWide(buffer.data(), length);
        }
        buffer.assign(length + 1, L'\0');
    }
    return {};
}

} // namespace

std::u16string DeployPlatform::ProgramPath() {
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return length > 0 && length < buffer.size() ? FromWide(buffer.data(), length) : u"";
}

std::u16string DeployPlatform::CommandLineText() {
    const wchar_t* line = GetCommandLineW();
    return FromWide(line, wcslen(line));
}

// The program gets two pipes for its output; only their write ends are inherited.
DeployPlatform::Finished DeployPlatform::RunProgram(const std::u16string& program,
                                                    const std::vector<std::u16string>& arguments) {
    std::vector<std::u16string> words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::u16string line = QuotedLine(words); // CreateProcessW may write to it

    Finished finished;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
        finished.code = GetLastError();
        return finished;
    }
    const Win32::UniqueHandle outReadOwner = OwnHandle(outRead);
    Win32::UniqueHandle outWriteOwner = OwnHandle(outWrite);
    if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        finished.code = GetLastError();
        return finished;
    }
    const Win32::UniqueHandle errReadOwner = OwnHandle(errRead);
    Win32::UniqueHandle errWriteOwner = OwnHandle(errWrite);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(Wide(program), reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr,
                        TRUE, 0, nullptr, nullptr, &startup, &process)) {
        finished.code = GetLastError();
        return finished;
    }
    finished.started = true;
    const Win32::UniqueHandle processOwner = OwnHandle(process.hProcess);
    const Win32::UniqueHandle threadOwner = OwnHandle(process.hThread);
    // Our copies of the write ends go, so that the reads end when the program's do.
    outWriteOwner.reset();
    errWriteOwner.reset();

    // Both pipes are read while the program runs, so that neither can fill up and stop it, and
    // never with a read that waits: a process the program leaves behind (a driver installation
    // may start one) inherits the pipes' write ends and would keep such a read open for as long as
    // it lives. Once the program has ended, everything it wrote is in the pipes; what comes after
    // is not its output.
    bool outOpen = true;
    bool errOpen = true;
    for (bool ended = false; !ended;) {
        ended = WaitForSingleObject(process.hProcess, outOpen || errOpen ? 10 : INFINITE) ==
                WAIT_OBJECT_0;
        outOpen = outOpen && ReadAvailable(outRead, &finished.out);
        errOpen = errOpen && ReadAvailable(errRead, &finished.err);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    finished.code = code;
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
    const Win32::UniqueHandle tokenOwner = OwnHandle(token);
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

// IsWow64Process2 (Windows 10 1511 and later) is bound from kernel32 at run time: without it the
// answer is empty and the caller reads the environment.
std::u16string DeployPlatform::NativeArchitecture() {
    static const auto isWow64Process2 =
        Win32::BindSystemFunction<BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*)>(L"kernel32.dll",
                                                                           "IsWow64Process2");
    USHORT process = 0;
    USHORT native = 0;
    if (isWow64Process2.call == nullptr ||
        !isWow64Process2.call(GetCurrentProcess(), &process, &native)) {
        return {};
    }
    switch (native) {
    case IMAGE_FILE_MACHINE_I386:
        return u"x86";
    case IMAGE_FILE_MACHINE_AMD64:
        return u"AMD64";
    case 0xAA64: // IMAGE_FILE_MACHINE_ARM64
        return u"ARM64";
    default: {
        static const char16_t digits[] = u"0123456789ABCDEF";
        std::u16string name = u"machine 0x";
        for (int shift = 12; shift >= 0; shift -= 4) {
            name += digits[(native >> shift) & 0xF];
        }
        return name;
    }
    }
}

std::u16string DeployPlatform::Environment(const char16_t* name) {
    return SystemString([name](wchar_t* buffer, DWORD capacity) {
        return GetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(name), buffer, capacity);
    });
}

std::u16string DeployPlatform::WindowsFolder() {
    return SystemString([](wchar_t* buffer, DWORD capacity) {
        const UINT length = GetSystemWindowsDirectoryW(buffer, capacity);
        return static_cast<DWORD>(length);
    });
}

std::u16string DeployPlatform::FullPath(const std::u16string& path) {
    return SystemString([&path](wchar_t* buffer, DWORD capacity) {
        return GetFullPathNameW(Wide(path), capacity, buffer, nullptr);
    });
}

// The handle tells what the name is; FILE_FLAG_BACKUP_SEMANTICS opens a folder too. Where Wine
// opened what a link leads to, the handle is not the name itself (Win32::IsNameItself).
DeployPlatform::PathKind DeployPlatform::KindOf(const std::u16string& path, bool followLinks) {
    const Win32::UniqueHandle file = OwnHandle(CreateFileW(
        Wide(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                              : PathKind::Other;
    }
    if (!GetFileInformationByHandle(file.get(), &info)) {
        return PathKind::Other;
    }
    if (!followLinks && ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                         !Win32::IsNameItself(file.get(), path))) {
        return PathKind::Link;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return PathKind::Folder;
    }
    return GetFileType(file.get()) == FILE_TYPE_DISK &&
                   (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0
               ? PathKind::File
               : PathKind::Other;
}

// The volume's serial number and the file index that GetFileInformationByHandle gives, of a
// handle opened as KindOf opens one. Without `followLinks`, a handle that is not the name's (Wine
// opened what a link leads to) has no identity to give; Windows gives the link's own.
bool DeployPlatform::IdentityOf(const std::u16string& path, bool followLinks,
                                FileIdentity* identity) {
    const Win32::UniqueHandle file = OwnHandle(CreateFileW(
        Wide(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info) ||
        (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         !Win32::HandleIsAtName(file.get(), path))) {
        return false;
    }
    *identity = {info.dwVolumeSerialNumber,
                 uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
    return true;
}

// Without FILE_SHARE_DELETE nobody can rename or delete the folder while it is held; files in
// it can still be deleted, through their own handles.
DeployPlatform::FolderHold::FolderHold(const std::u16string& path) {
    const HANDLE folder = CreateFileW(
        Wide(path), FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (folder == INVALID_HANDLE_VALUE) {
        return;
    }
    if (!GetFileInformationByHandle(folder, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        !Win32::IsNameItself(folder, path)) {
        CloseHandle(folder);
        return;
    }
    handle_ = reinterpret_cast<intptr_t>(folder);
}

DeployPlatform::FolderHold::~FolderHold() {
    if (handle_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

std::vector<DeployPlatform::Entry> DeployPlatform::ListFolder(const std::u16string& folder) {
    std::vector<Entry> entries;
    WIN32_FIND_DATAW found;
    const std::u16string pattern = folder + u"\\*";
    const HANDLE search = FindFirstFileW(Wide(pattern), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return entries;
    }
    do {
        const std::u16string name = FromWide(found.cFileName, wcslen(found.cFileName));
        if (name != u"." && name != u"..") {
            entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                               uint64_t{found.nFileSizeHigh} << 32 | found.nFileSizeLow});
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

// A read-only file loses that attribute first; a link's own attributes are never touched.
bool DeployPlatform::DeleteName(const std::u16string& path) {
    if (DeleteFileW(Wide(path))) {
        return true;
    }
    const DWORD attributes = GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    return SetFileAttributesW(Wide(path), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) &&
           DeleteFileW(Wide(path));
}

bool DeployPlatform::RemoveFolder(const std::u16string& path) {
    return RemoveDirectoryW(Wide(path)) != FALSE;
}

bool DeployPlatform::MakeFolder(const std::u16string& path) {
    return CreateDirectoryW(Wide(path), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// Owner Administrators; a protected access list: SYSTEM and Administrators full control, Users
// read and execute (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), each for the folder, its files
// and its subfolders.
DeployPlatform::Made DeployPlatform::MakeSecuredFolder(const std::u16string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1,
            &descriptor, nullptr)) {
        return Made::Unsecured;
    }
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    const bool made = CreateDirectoryW(Wide(path), &security) != FALSE;
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    return made ? Made::Made : error == ERROR_ALREADY_EXISTS ? Made::Exists : Made::Failed;
}

// `to` is opened as SafeFile opens the trace's log (Win32::CreateOrOpenName), and emptied only
// once its handle is a plain file at that name; `from`, unless followed, by Win32::OpenPlainFile.
bool DeployPlatform::CopyFileTo(const std::u16string& from, const std::u16string& to,
                                bool followFrom) {
    uint64_t size = 0;
    const Win32::UniqueHandle in =
        followFrom ? OwnHandle(CreateFileW(Wide(from), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
                   : Win32::OpenPlainFile(from, &size);
    if (!in || Win32::NameIsReparsePoint(to)) {
        return false;
    }
    const Win32::UniqueHandle out =
        OwnHandle(Win32::CreateOrOpenName(to, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!out || !Win32::IsPlainFile(out.get(), to, &info) || !SetEndOfFile(out.get())) {
        return false;
    }
    std::vector<char> chunk(1 << 16);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(in.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            return true;
        }
        DWORD written = 0;
        if (!WriteFile(out.get(), chunk.data(), read, &written, nullptr) || written != read) {
            return false;
        }
    }
}

// crypt32 is not a KnownDLL: its calls are bound from the system folder.
uint32_t DeployPlatform::AddTrustedPublisher(const std::vector<uint8_t>& der) {
    static const auto open =
        Win32::BindSystemFunction<decltype(&::CertOpenStore)>(L"crypt32.dll", "CertOpenStore");
    static const auto add =
        Win32::BindSystemFunction<decltype(&::CertAddEncodedCertificateToStore)>(
            L"crypt32.dll", "CertAddEncodedCertificateToStore");
    static const auto close =
        Win32::BindSystemFunction<decltype(&::CertCloseStore)>(L"crypt32.dll", "CertCloseStore");
    for (const DWORD error : {open.error, add.error, close.error}) {
        if (error != 0) {
            return error;
        }
    }
    if (der.empty() || der.size() > MAXDWORD) {
        return ERROR_INVALID_PARAMETER;
    }
    const auto closeStore = [](HCERTSTORE store) { close.call(store, 0); };
    const std::unique_ptr<void, decltype(closeStore)> store(
        open.call(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                  L"TrustedPublisher"),
        closeStore);
    if (store == nullptr) {
        return GetLastError();
    }
    return add.call(store.get(), X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                    CERT_STORE_ADD_USE_EXISTING, nullptr)
               ? 0
               : GetLastError();
}
