// Linux: UTF-8 on the stream.
#include "ConsoleText.h"

#include <cstdio>

#include "Utf8.h"

void WriteConsoleUtf8(bool error, std::string_view utf8) {
    std::FILE* stream = error ? stderr : stdout;
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

void WriteConsoleText(bool error, const std::u16string& text) {
    WriteConsoleUtf8(error, Text::Utf16ToUtf8(text));
}
