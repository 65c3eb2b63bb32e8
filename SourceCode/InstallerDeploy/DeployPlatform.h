// What the deploy program needs from the system besides the files and the clock (SafeFile.h,
// LocalClock.h): running a program with its output captured, the console, who and where the run
// is, the machine's native architecture, the folders it reads and makes (the package, the log
// folder, /keep), and the machine's TrustedPublisher store (/trustpublisher).
// DeployPlatform-win32.cpp calls the Windows functions; DeployPlatform-host.cpp stands in on
// Linux (DeployPlatformHost.h holds its controls for tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace DeployPlatform {

// This program's own full path.
std::u16string ProgramPath();
// This program's command line as the system gave it, its own name first.
std::u16string CommandLineText();

struct Finished {
    bool started = false;
    uint32_t code = 0; // the exit code, or the system's reason when the program did not start
    std::string out;   // what it wrote to standard output and standard error, as it wrote it
    std::string err;
};
// Runs `program` (a full path: nothing is searched for) with `arguments`, each of which reaches
// it as it is (on Windows they are quoted by the rules programs read their command line by).
// Returns when it has ended.
Finished RunProgram(const std::u16string& program, const std::vector<std::u16string>& arguments);

// Writes UTF-8 text to standard output (`error` false) or standard error; a console shows it as
// text.
void WriteOutput(bool error, const std::string& utf8);

std::u16string ComputerName();
// The account the program runs as, "DOMAIN\name" where there is a domain.
std::u16string AccountName();
// The machine's native architecture, named as PROCESSOR_ARCHITECTURE names it ("x86", "AMD64",
// "ARM64"), whatever this process runs as (32-bit, or x64 emulated on ARM64).
std::u16string NativeArchitecture();

// An environment variable; empty when it is not set.
std::u16string Environment(const char16_t* name);
// The Windows folder ("C:\Windows"), from the system rather than the environment.
std::u16string WindowsFolder();
// `path` made absolute against the working folder, "." and ".." resolved.
std::u16string FullPath(const std::u16string& path);

enum class PathKind { Missing, File, Folder, Link, Other };
// What is at `path`. With `followLinks` false the name itself is looked at (opened with
// FILE_FLAG_OPEN_REPARSE_POINT on Windows): a symbolic link or junction is Link.
PathKind KindOf(const std::u16string& path, bool followLinks);

// Which file or folder a name is, however the name is spelled: the volume serial number and file
// ID on Windows, st_dev and st_ino on Linux.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The identity of what is at `path` (with `followLinks` false, of the name itself); false when
// nothing can be opened there.
bool IdentityOf(const std::u16string& path, bool followLinks, FileIdentity* identity);

// While it lives, the folder at `path` (the folder itself, never what a link there leads to)
// cannot be renamed, deleted or replaced by a link: on Windows it is held open without
// FILE_SHARE_DELETE. held() is false when the name is not such a folder or cannot be held.
class FolderHold {
  public:
    explicit FolderHold(const std::u16string& path);
    ~FolderHold();
    FolderHold(const FolderHold&) = delete;
    FolderHold& operator=(const FolderHold&) = delete;
    bool held() const { return handle_ != -1; }

  private:
    intptr_t handle_ = -1;
};

struct Entry {
    std::u16string name; // without the folder
    bool folder;         // a folder, or a link or junction to one
    uint64_t bytes;
};
// What `folder` holds, "." and ".." left out.
std::vector<Entry> ListFolder(const std::u16string& folder);
// Deletes the name `path` (a file, or a link itself), read-only or not.
bool DeleteName(const std::u16string& path);
// Removes the empty folder `path`.
bool RemoveFolder(const std::u16string& path);
// Makes the folder `path` with the access of its parent; true when it is there afterwards.
bool MakeFolder(const std::u16string& path);
enum class Made { Made, Exists, Unsecured, Failed };
// Makes the folder `path` in one call with its final security: owner Administrators, an access
// list of its own that inherits nothing, SYSTEM and Administrators full control, Users read and
// execute, passed on to what it will hold. Exists when the name was taken; Unsecured when that
// security could not be built; Failed otherwise.
Made MakeSecuredFolder(const std::u16string& path);
// Copies the file `from` to `to`, replacing a plain file there. The name `to` is never followed:
// a link there (one that leads nowhere too), a file with a second hard link or anything but a
// plain file gives false and is left as it was, and nothing is made where a link leads. Nor is
// `from` unless `followFrom` (a file the administrator named): then only a plain file with one
// name is read.
bool CopyFileTo(const std::u16string& from, const std::u16string& to, bool followFrom);

// Adds the certificate `der` to the LocalMachine TrustedPublisher store (CertOpenStore, then
// CertAddEncodedCertificateToStore keeping a copy already there); crypt32 is bound at run time
// from the system folder. The simulator stands in on the host: the certificate is written beside
// the machine file and listed in its [trust] section. 0 or the system's error.
uint32_t AddTrustedPublisher(const std::vector<uint8_t>& der);

} // namespace DeployPlatform
