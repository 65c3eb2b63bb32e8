// Linux: UTF-8 on the stream.
#include "CheckConsole.h"

#include <cstdio>

#include "TracePlatformHost.h"

void WriteConsoleText(bool error, const std::u16string& text) {
    const std::string bytes = TracePlatformHost::ToUtf8(text);
    std::FILE* stream = error ? stderr : stdout;
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}
