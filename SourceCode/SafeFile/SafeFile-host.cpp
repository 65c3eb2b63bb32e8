// Linux stand-ins for SafeFile: the same terms over POSIX calls. Paths come in as the core
// writes them ('\\' separators) and are used with '/'. The writer's exclusion is an flock on the
// open file; a reader never takes one, so it never blocks a writer.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>

#include "HostPath.h"
#include "SafeFile.h"
#include "SafeFileHost.h"
#include "Utf8.h"

namespace {

std::mutex hookLock;
std::function<void()> beforeRename;
std::function<void()> beforeLock;
std::atomic<uint32_t> sharingViolations{0};

std::string Host(const std::u16string& path) {
    std::string out = Text::Utf16ToUtf8(path);
    for (char& c : out) {
        c = c == '\\' ? '/' : c;
    }
    return out;
}

void RunHook(const std::function<void()>& hook) {
    std::function<void()> copy;
    {
        const std::lock_guard<std::mutex> guard(hookLock);
        copy = hook;
    }
    if (copy) {
        copy();
    }
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A descriptor of the plain file at `path` with one name, or -1: O_NOFOLLOW refuses a symbolic
// link, O_NONBLOCK keeps a pipe from holding the program up, fstat tells the rest.
// Names are found ignoring the case of ASCII letters, as Windows finds them.
int OpenPlainFile(const std::u16string& path, uint64_t* size) {
    const int fd = open(HostSupport::CaseBlind(Host(path)).c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1)) {
        close(fd);
        return -1;
    }
    *size = fd >= 0 ? static_cast<uint64_t>(info.st_size) : 0;
    return fd;
}

std::atomic<uint32_t> calls{0};

} // namespace

namespace SafeFileHost {

void SetBeforeRename(std::function<void()> hook) {
    const std::lock_guard<std::mutex> guard(hookLock);
    beforeRename = std::move(hook);
}

void SetBeforeLock(std::function<void()> hook) {
    const std::lock_guard<std::mutex> guard(hookLock);
    beforeLock = std::move(hook);
}

uint32_t SharingViolations() {
    return sharingViolations.load();
}

uint32_t Calls() {
    return calls.load();
}

} // namespace SafeFileHost

namespace SafeFile {

FileResult AppendFile::Open(const std::u16string& path) {
    ++calls;
    Close();
    const std::string hostPath = Host(path);
    const int fd = open(hostPath.c_str(),
                        O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        error_ = static_cast<uint32_t>(errno);
        return errno == ELOOP ? FileResult::NotPlain : FileResult::NotOpened;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        error_ = static_cast<uint32_t>(EPERM);
        close(fd);
        return FileResult::NotPlain;
    }
    // One writer at a time; one that took the lock after a roll-over renamed the file finds its
    // name leading elsewhere and opens it again.
    RunHook(beforeLock);
    struct stat named {};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || lstat(hostPath.c_str(), &named) != 0 ||
        !SameFile(named, info)) {
        error_ = static_cast<uint32_t>(EWOULDBLOCK);
        ++sharingViolations;
        close(fd);
        return FileResult::SharingViolation;
    }
    handle_ = fd;
    path_ = path;
    return FileResult::Done;
}

std::optional<uint64_t> AppendFile::Size() const {
    ++calls;
    struct stat info {};
    if (handle_ == kNone || fstat(static_cast<int>(handle_), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(info.st_size);
}

FileResult AppendFile::Append(const char* bytes, size_t count) {
    ++calls;
    const std::optional<uint64_t> before = Size();
    if (!before) {
        return FileResult::WriteFailed;
    }
    const int fd = static_cast<int>(handle_);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error_ = static_cast<uint32_t>(n < 0 ? errno : EIO);
            // Taken back: the file ends where it ended before.
            while (ftruncate(fd, static_cast<off_t>(*before)) != 0 && errno == EINTR) {
            }
            return FileResult::WriteFailed;
        }
        done += static_cast<size_t>(n);
    }
    return FileResult::Done;
}

bool AppendFile::RenameTo(const std::u16string& to) {
    ++calls;
    struct stat held {};
    struct stat named {};
    if (handle_ == kNone || fstat(static_cast<int>(handle_), &held) != 0 ||
        lstat(Host(path_).c_str(), &named) != 0 || !SameFile(held, named)) {
        return false;
    }
    RunHook(beforeRename);
    if (rename(Host(path_).c_str(), Host(to).c_str()) != 0) {
        error_ = static_cast<uint32_t>(errno);
        return false;
    }
    path_ = to;
    return true;
}

void AppendFile::Close() {
    if (handle_ != kNone) {
        close(static_cast<int>(handle_));
        handle_ = kNone;
    }
}

std::optional<uint64_t> PlainFileSize(const std::u16string& path) {
    ++calls;
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
    ++calls;
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

bool PlainFileReader::Open(const std::u16string& path) {
    ++calls;
    Close();
    const int fd = OpenPlainFile(path, &size_);
    handle_ = fd < 0 ? kNone : fd;
    return fd >= 0;
}

bool PlainFileReader::Read(char* buffer, size_t count, size_t* read) {
    ++calls;
    *read = 0;
    while (handle_ != kNone && *read < count) {
        const ssize_t got = ::read(static_cast<int>(handle_), buffer + *read, count - *read);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        *read += static_cast<size_t>(got);
    }
    return handle_ != kNone;
}

void PlainFileReader::Close() {
    if (handle_ != kNone) {
        close(static_cast<int>(handle_));
        handle_ = kNone;
    }
}

} // namespace SafeFile
