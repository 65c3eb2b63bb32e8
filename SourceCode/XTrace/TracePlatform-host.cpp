// Linux stand-ins for the trace platform: /proc/self/exe for the executable's path, an optional
// file for the debugger channel, the thread's last error, and the test controls over them. The
// settings file is read in HostIniReader.cpp, the per-user override key in HostOverrideStore.cpp.
// Nothing here writes to the console.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "ThreadError.h"
#include "TracePlatform.h"
#include "TracePlatformHost.h"
#include "Utf8.h"
#include "WinError.h"

namespace {

std::optional<std::u16string> g_executablePath;
std::vector<std::u16string>* g_debugSink = nullptr;

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
}

std::u16string FromUtf8(const std::string& text) {
    return Text::Utf8ToUtf16(text);
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
        HostSupport::ThreadError() = HostSupport::WinError::INSUFFICIENT_BUFFER;
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

uint32_t ThreadLastError() {
    TracePlatformHost::CountPlatformCall();
    return HostSupport::ThreadError();
}

void SetThreadLastError(uint32_t error) {
    TracePlatformHost::CountPlatformCall();
    HostSupport::ThreadError() = error;
}

} // namespace TracePlatform
