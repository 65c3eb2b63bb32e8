// Windows: a console gets the wide text itself; a pipe or a file gets it as UTF-8.
#include "CheckConsole.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

static_assert(sizeof(wchar_t) == sizeof(char16_t));

void WriteConsoleText(bool error, const std::u16string& text) {
    if (text.empty()) {
        return;
    }
    const HANDLE stream = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (stream == INVALID_HANDLE_VALUE || stream == nullptr) {
        return;
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int chars = static_cast<int>(text.size());
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(stream, &mode)) {
        WriteConsoleW(stream, wide, static_cast<DWORD>(chars), &written, nullptr);
        return;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return;
    }
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, chars, utf8.data(), bytes, nullptr, nullptr);
    WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}
