// Linux stand-ins for the deploy platform: the same terms over POSIX calls. Paths come in as the
// core writes them ('\\' separators) and are used with '/'. The Windows folder is $SystemRoot
// (empty when unset), and a secured folder is a folder of mode 0755. The TrustedPublisher store is
// the simulated machine's (DeviceSimulator.h).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "CatalogCrypto.h"
#include "DeployPlatform.h"
#include "DeployPlatformHost.h"
#include "DeviceSimulator.h"
#include "Utf8.h"

extern char** environ;

namespace {

std::optional<std::u16string> nativeArchitecture;
std::string* capturedOut = nullptr;
std::string* capturedErr = nullptr;

std::string Host(const std::u16string& path) {
    std::string out = Text::Utf16ToUtf8(path);
    for (char& c : out) {
        c = c == '\\' ? '/' : c;
    }
    return out;
}

std::u16string Core(const std::string& text) {
    return Text::Utf8ToUtf16(text);
}

} // namespace

namespace DeployPlatformHost {

void SetNativeArchitecture(std::optional<std::u16string> name) {
    nativeArchitecture = std::move(name);
}

void CaptureOutput(std::string* out, std::string* err) {
    capturedOut = out;
    capturedErr = err;
}

} // namespace DeployPlatformHost

namespace DeployPlatform {

std::u16string ProgramPath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    return n > 0 ? Core(std::string(path, static_cast<size_t>(n))) : u"";
}

std::u16string CommandLineText() {
    return {};
}

// posix_spawn with both output streams on pipes, read together with poll until both end.
Finished RunProgram(const std::u16string& program, const std::vector<std::u16string>& arguments) {
    Finished finished;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        finished.code = static_cast<uint32_t>(errno);
        return finished;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        finished.code = static_cast<uint32_t>(errno);
        close(out[0]);
        close(out[1]);
        return finished;
    }
    const std::string path = Host(program);
    std::vector<std::string> words = {path};
    for (const std::u16string& argument : arguments) {
        words.push_back(Text::Utf16ToUtf8(argument));
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned == 0) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        std::string* sinks[2] = {&finished.out, &finished.err};
        int open = 2;
        while (open > 0 && poll(fds, 2, -1) >= 0) {
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0) {
                    continue;
                }
                char chunk[4096];
                const ssize_t n = read(fds[i].fd, chunk, sizeof(chunk));
                if (n > 0) {
                    sinks[i]->append(chunk, static_cast<size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        finished.started = true;
        finished.code = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                          : 128u + static_cast<uint32_t>(WTERMSIG(status));
    } else {
        finished.code = static_cast<uint32_t>(spawned);
    }
    close(out[0]);
    close(err[0]);
    return finished;
}

void WriteOutput(bool error, const std::string& utf8) {
    std::string* capture = error ? capturedErr : capturedOut;
    if (capture != nullptr) {
        *capture += utf8;
        return;
    }
    std::FILE* stream = error ? stderr : stdout;
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

std::u16string ComputerName() {
    char name[256] = {};
    return gethostname(name, sizeof(name) - 1) == 0 ? Core(name) : u"?";
}

std::u16string AccountName() {
    const char* user = getenv("USER");
    return Core(user != nullptr ? user : "?");
}

std::u16string NativeArchitecture() {
    if (nativeArchitecture) {
        return *nativeArchitecture;
    }
    utsname machine{};
    const std::string name = uname(&machine) == 0 ? machine.machine : "";
    return name == "x86_64"                     ? u"AMD64"
           : name == "aarch64"                  ? u"ARM64"
           : name.size() == 4 && name[0] == 'i' ? u"x86"
                                                : Core(name);
}

std::u16string Environment(const char16_t* name) {
    const char* value = getenv(Text::Utf16ToUtf8(name).c_str());
    return value != nullptr ? Core(value) : u"";
}

std::u16string WindowsFolder() {
    return Environment(u"SystemRoot");
}

std::u16string FullPath(const std::u16string& path) {
    std::string host = Host(path);
    if (host.empty() || host[0] != '/') {
        char cwd[PATH_MAX];
        host = std::string(getcwd(cwd, sizeof(cwd)) != nullptr ? cwd : "") + "/" + host;
    }
    // "." and ".." resolved by name, as Windows does, without asking the file system.
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= host.size()) {
        size_t end = host.find('/', start);
        end = end == std::string::npos ? host.size() : end;
        const std::string part = host.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& part : parts) {
        out += "/" + part;
    }
    if (host.back() == '/' && !parts.empty()) {
        out += '/';
    }
    return Core(out.empty() ? "/" : out);
}

PathKind KindOf(const std::u16string& path, bool followLinks) {
    struct stat info {};
    const std::string host = Host(path);
    if ((followLinks ? stat(host.c_str(), &info) : lstat(host.c_str(), &info)) != 0) {
        return PathKind::Missing;
    }
    return S_ISLNK(info.st_mode)   ? PathKind::Link
           : S_ISDIR(info.st_mode) ? PathKind::Folder
           : S_ISREG(info.st_mode) ? PathKind::File
                                   : PathKind::Other;
}

bool IdentityOf(const std::u16string& path, bool followLinks, FileIdentity* identity) {
    struct stat info {};
    const std::string host = Host(path);
    if ((followLinks ? stat(host.c_str(), &info) : lstat(host.c_str(), &info)) != 0) {
        return false;
    }
    *identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return true;
}

// O_NOFOLLOW refuses a link; a Linux folder cannot be kept from being renamed, so the stand-in
// only checks what the name is.
FolderHold::FolderHold(const std::u16string& path) {
    const int fd = open(Host(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    handle_ = fd >= 0 ? fd : -1;
}

FolderHold::~FolderHold() {
    if (handle_ != -1) {
        close(static_cast<int>(handle_));
    }
}

std::vector<Entry> ListFolder(const std::u16string& folder) {
    std::vector<Entry> entries;
    const std::string path = Host(folder);
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return entries;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name == "." || name == ".." || stat((path + "/" + name).c_str(), &info) != 0) {
            // A dangling link is a name like a file's.
            if (name != "." && name != "..") {
                entries.push_back({Core(name), false, 0});
            }
            continue;
        }
        entries.push_back({Core(name), S_ISDIR(info.st_mode), static_cast<uint64_t>(info.st_size)});
    }
    closedir(dir);
    return entries;
}

bool DeleteName(const std::u16string& path) {
    return unlink(Host(path).c_str()) == 0;
}

bool RemoveFolder(const std::u16string& path) {
    return rmdir(Host(path).c_str()) == 0;
}

bool MakeFolder(const std::u16string& path) {
    return mkdir(Host(path).c_str(), 0755) == 0 || KindOf(path, false) == PathKind::Folder;
}

Made MakeSecuredFolder(const std::u16string& path) {
    if (mkdir(Host(path).c_str(), 0755) == 0) {
        return Made::Made;
    }
    return errno == EEXIST ? Made::Exists : Made::Failed;
}

// As on Windows: O_NOFOLLOW refuses a link at either name (a dangling one too: nothing is made),
// and `to` is cut only once it shows a regular file with one name. O_NONBLOCK keeps a FIFO from
// stopping the open.
bool CopyFileTo(const std::u16string& from, const std::u16string& to, bool followFrom) {
    const int in =
        open(Host(from).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followFrom ? 0 : O_NOFOLLOW));
    struct stat info {};
    if (in < 0) {
        return false;
    }
    if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode) || (!followFrom && info.st_nlink != 1)) {
        close(in);
        return false;
    }
    const int out =
        open(Host(to).c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool done = out >= 0 && fstat(out, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
                ftruncate(out, 0) == 0;
    char chunk[65536];
    ssize_t n = 0;
    while (done && (n = read(in, chunk, sizeof(chunk))) > 0) {
        done = write(out, chunk, static_cast<size_t>(n)) == n;
    }
    done = done && n == 0;
    close(in);
    if (out >= 0) {
        done = close(out) == 0 && done;
    }
    return done;
}

// The certificate goes beside the machine file as trusted-publisher-<its SHA-1>.cer.
uint32_t AddTrustedPublisher(const std::vector<uint8_t>& der) {
    CatalogCrypto::Digest sha1(CatalogCrypto::HashAlgorithm::Sha1);
    CatalogCrypto::Bytes digest;
    sha1.Update(der.data(), der.size());
    if (der.empty() || !sha1.Finish(&digest)) {
        return 87; // ERROR_INVALID_PARAMETER
    }
    static const char kDigits[] = "0123456789ABCDEF";
    std::string name = "trusted-publisher-";
    for (const uint8_t byte : digest) {
        name += kDigits[byte >> 4];
        name += kDigits[byte & 0xF];
    }
    return DevSim::AddTrustedPublisher(der, name + ".cer");
}

} // namespace DeployPlatform
