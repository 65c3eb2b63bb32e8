// Windows: a console gets wide text; a pipe or a file gets the UTF-8 bytes.
#include "ConsoleText.h"

#include "Utf8.h"
#include "Win32.h"

namespace {

HANDLE Stream(bool error) {
    const HANDLE stream = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    return stream == INVALID_HANDLE_VALUE ? nullptr : stream;
}

bool IsConsole(HANDLE stream) {
    DWORD mode = 0;
    return GetConsoleMode(stream, &mode) != FALSE;
}

} // namespace

void WriteConsoleText(bool error, const std::u16string& text) {
    const HANDLE stream = Stream(error);
    if (text.empty() || stream == nullptr) {
        return;
    }
    DWORD written = 0;
    if (IsConsole(stream)) {
        WriteConsoleW(stream, Win32::Wide(text), static_cast<DWORD>(text.size()), &written,
                      nullptr);
        return;
    }
    const std::string utf8 = Text::Utf16ToUtf8(text);
    WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void WriteConsoleUtf8(bool error, std::string_view utf8) {
    const HANDLE stream = Stream(error);
    if (utf8.empty() || stream == nullptr) {
        return;
    }
    if (IsConsole(stream)) {
        WriteConsoleText(error, Text::Utf8ToUtf16(utf8));
        return;
    }
    DWORD written = 0;
    WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}
