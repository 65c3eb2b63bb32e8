// Linux stand-ins for the trace platform: /proc/self/exe for the executable's path, an optional
// file for the debugger channel, the C library clock and an append with an exclusive advisory
// lock that follows no link, and the test controls over them. The settings file is read in
// HostIniReader.cpp, the per-user override key in HostOverrideStore.cpp. Nothing here writes to the
// console.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "ThreadError.h"
#include "TracePlatform.h"
#include "TracePlatformHost.h"
#include "Utf8.h"

namespace {

// _localtime64_s accepts 1970-01-01 00:00:00 to 3000-12-31 23:59:59 UTC and fails outside.
constexpr int64_t kLatestLocalTime = 32535215999;

// Windows error codes the stand-ins leave as the thread's last error.
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorAlreadyExists = 183;

std::optional<std::u16string> g_executablePath;
std::vector<std::u16string>* g_debugSink = nullptr;
std::optional<int64_t> g_clock;

bool WriteAll(int fd, const char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

// ---- Test controls and conversions ------------------------------------------------------------

namespace TracePlatformHost {

void SetExecutablePath(std::optional<std::u16string> path) {
    g_executablePath = std::move(path);
}

void CaptureDebugChannel(std::vector<std::u16string>* sink) {
    g_debugSink = sink;
}

void SetClock(std::optional<int64_t> now) {
    g_clock = now;
}

static uint32_t g_platformCalls = 0;

void CountPlatformCall() {
    ++g_platformCalls;
}

uint32_t PlatformCalls() {
    return g_platformCalls;
}

void ResetControls() {
    g_executablePath.reset();
    g_debugSink = nullptr;
    g_clock.reset();
}

std::string HostPath(const char16_t* path) {
    std::string out = Text::Utf16ToUtf8(path);
    for (char& c : out) {
        if (c == '\\') {
            c = '/';
        }
    }
    return out;
}

std::u16string CorePath(const std::string& path) {
    std::u16string out = Text::Utf8ToUtf16(path);
    for (char16_t& c : out) {
        if (c == u'/') {
            c = u'\\';
        }
    }
    return out;
}

std::u16string FromUtf8(const std::string& text) {
    return Text::Utf8ToUtf16(text);
}

std::string ToUtf8(const std::u16string& text) {
    return Text::Utf16ToUtf8(text);
}

} // namespace TracePlatformHost

// ---- The platform -----------------------------------------------------------------------------

namespace TracePlatform {

uint32_t ExecutablePath(char16_t* buffer, uint32_t capacity) {
    TracePlatformHost::CountPlatformCall();
    std::u16string path;
    if (g_executablePath) {
        path = *g_executablePath;
    } else {
        std::string target(256, '\0');
        for (;;) {
            const ssize_t length = readlink("/proc/self/exe", target.data(), target.size());
            if (length < 0) {
                return 0;
            }
            if (static_cast<size_t>(length) < target.size()) {
                target.resize(static_cast<size_t>(length));
                break;
            }
            target.resize(target.size() * 2);
        }
        path = TracePlatformHost::CorePath(target);
    }
    if (path.empty() || buffer == nullptr || capacity == 0) {
        return 0;
    }
    // Like GetModuleFileNameW: a path that does not fit is cut to capacity - 1 characters and
    // terminated, and the call returns capacity.
    if (path.size() >= capacity) {
        path.copy(buffer, capacity - 1);
        buffer[capacity - 1] = u'\0';
        HostSupport::ThreadError() = kErrorInsufficientBuffer;
        return capacity;
    }
    path.copy(buffer, path.size());
    buffer[path.size()] = u'\0';
    return static_cast<uint32_t>(path.size());
}

void DebugChannelWrite(const char16_t* text) {
    TracePlatformHost::CountPlatformCall();
    if (text == nullptr) {
        return;
    }
    if (g_debugSink != nullptr) {
        g_debugSink->emplace_back(text);
        return;
    }
    const char* target = std::getenv("XTRACE_DEBUG_CHANNEL");
    if (target == nullptr || target[0] == '\0') {
        return;
    }
    const int fd = open(target, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    // One write per record keeps records whole when several processes share the file.
    std::string line = Text::Utf16ToUtf8(text);
    if (line.empty() || line.back() != '\n') {
        line.push_back('\n');
    }
    WriteAll(fd, line.data(), line.size());
    close(fd);
}

int64_t CurrentTime() {
    TracePlatformHost::CountPlatformCall();
    return g_clock ? *g_clock : static_cast<int64_t>(std::time(nullptr));
}

bool ToLocalTime(int64_t time, LocalTime* out) {
    TracePlatformHost::CountPlatformCall();
    if (out == nullptr || time < 0 || time > kLatestLocalTime) {
        return false;
    }
    const auto seconds = static_cast<time_t>(time);
    if (static_cast<int64_t>(seconds) != time) {
        return false;
    }
    tzset(); // picks up a TZ changed since the last call
    tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        return false;
    }
    out->month = local.tm_mon + 1;
    out->day = local.tm_mday;
    out->hour = local.tm_hour;
    out->minute = local.tm_min;
    return true;
}

uint32_t ThreadLastError() {
    TracePlatformHost::CountPlatformCall();
    return HostSupport::ThreadError();
}

void SetThreadLastError(uint32_t error) {
    TracePlatformHost::CountPlatformCall();
    HostSupport::ThreadError() = error;
}

// The last error is left as opening the file for appending leaves it on Windows: 183
// (ERROR_ALREADY_EXISTS) when the file was there, 0 when it was created, the reason otherwise.
bool AppendToFile(const char16_t* path, const char* bytes, size_t count) {
    TracePlatformHost::CountPlatformCall();
    if (path == nullptr) {
        HostSupport::ThreadError() = kErrorInvalidParameter;
        return false;
    }
    const std::string hostPath = TracePlatformHost::HostPath(path);
    const bool existed = access(hostPath.c_str(), F_OK) == 0;
    // O_NOFOLLOW: a symbolic link at the name is refused, not followed; O_NONBLOCK: a pipe at the
    // name does not hold the program up. What the name is, is then asked of the open file.
    const int fd = open(hostPath.c_str(),
                        O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        HostSupport::ThreadError() = errno == ELOOP ? kErrorAccessDenied : kErrorPathNotFound;
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        close(fd);
        HostSupport::ThreadError() = kErrorAccessDenied;
        return false;
    }
    // Held open without sharing: a file another writer holds counts as one that cannot be
    // opened.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        HostSupport::ThreadError() = kErrorSharingViolation;
        return false;
    }
    HostSupport::ThreadError() = existed ? kErrorAlreadyExists : 0;
    if (count > 0 && bytes != nullptr) {
        WriteAll(fd, bytes, count);
    }
    close(fd);
    return true;
}

} // namespace TracePlatform
