// Linux stand-ins for the deployment log's platform: the same terms over POSIX calls. Paths come
// in as the core writes them and are turned into host paths as the trace's stand-ins do.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "DeployPlatform.h"
#include "TracePlatformHost.h"

extern char** environ;

namespace {

std::string Host(const std::u16string& path) {
    return TracePlatformHost::HostPath(path.c_str());
}

// A descriptor of the plain file at `path` with one name, or -1: O_NOFOLLOW refuses a
// symbolic link, fstat tells the rest.
int OpenPlainFile(const std::u16string& path, uint64_t* size) {
    const int fd = open(Host(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1)) {
        close(fd);
        return -1;
    }
    *size = fd >= 0 ? static_cast<uint64_t>(info.st_size) : 0;
    return fd;
}

bool EndsWithLog(const std::string& name) {
    if (name.size() < 4) {
        return false;
    }
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return tail == ".log";
}

} // namespace

namespace DeployPlatform {

std::vector<PlainFile> ListLogFiles(const std::u16string& folder) {
    std::vector<PlainFile> files;
    const std::string path = Host(folder);
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return files;
    }
    while (const dirent* entry = readdir(dir)) {
        struct stat info {};
        const std::string name = entry->d_name;
        if (EndsWithLog(name) && lstat((path + "/" + name).c_str(), &info) == 0 &&
            S_ISREG(info.st_mode)) {
            files.push_back(
                {TracePlatformHost::FromUtf8(name), static_cast<uint64_t>(info.st_size)});
        }
    }
    closedir(dir);
    return files;
}

std::optional<uint64_t> PlainFileSize(const std::u16string& path) {
    uint64_t size = 0;
    const int fd = OpenPlainFile(path, &size);
    if (fd < 0) {
        return std::nullopt;
    }
    close(fd);
    return size;
}

bool ReadPlainFile(const std::u16string& path, uint64_t offset, uint64_t maxBytes,
                   std::string* bytes) {
    uint64_t size = 0;
    const int fd = OpenPlainFile(path, &size);
    if (fd < 0) {
        return false;
    }
    bool done = offset <= size && lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
    if (done) {
        bytes->assign(static_cast<size_t>(std::min(size - offset, maxBytes)), '\0');
        done = read(fd, bytes->data(), bytes->size()) == static_cast<ssize_t>(bytes->size());
    }
    close(fd);
    return done;
}

bool RenameReplacing(const std::u16string& from, const std::u16string& to) {
    return rename(Host(from).c_str(), Host(to).c_str()) == 0;
}

// posix_spawn with both output streams on pipes, read together with poll until both end.
Finished RunProgram(const std::u16string& program, const std::vector<std::u16string>& arguments,
                    const std::u16string&) {
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
        words.push_back(TracePlatformHost::ToUtf8(argument));
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
    std::FILE* stream = error ? stderr : stdout;
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

std::u16string ComputerName() {
    char name[256] = {};
    return gethostname(name, sizeof(name) - 1) == 0 ? TracePlatformHost::FromUtf8(name) : u"?";
}

std::u16string AccountName() {
    const char* user = getenv("USER");
    return TracePlatformHost::FromUtf8(user != nullptr ? user : "?");
}

LocalNow Now() {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900,
            local.tm_mon + 1,
            local.tm_mday,
            local.tm_hour,
            local.tm_min,
            local.tm_sec,
            static_cast<int>(local.tm_gmtoff / 60)};
}

} // namespace DeployPlatform
