// DecodeStreams on Windows: the standard handles and CreateFileW, read and written with
// ReadFile / WriteFile, which pass every byte as it is (the C runtime's text mode would end the
// input at byte 0x1A and write CR LF), and WriteConsoleW for a console.
#include "DecodeStreams.h"

#include <algorithm>

#include "Utf8.h"
#include "Win32.h"

namespace {

// A pipe whose writer has closed it reports ERROR_BROKEN_PIPE: that is its end.
DecodeStreams::ReadResult ReadToEnd(HANDLE stream, std::string* bytes) {
    char chunk[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(stream, chunk, sizeof(chunk), &read, nullptr)) {
            return GetLastError() == ERROR_BROKEN_PIPE ? DecodeStreams::ReadResult::Done
                                                       : DecodeStreams::ReadResult::Cut;
        }
        if (read == 0) {
            return DecodeStreams::ReadResult::Done;
        }
        bytes->append(chunk, read);
    }
}

HANDLE Standard(DWORD which) {
    const HANDLE stream = GetStdHandle(which);
    return stream == INVALID_HANDLE_VALUE ? nullptr : stream;
}

bool IsConsole(HANDLE stream) {
    DWORD mode = 0;
    return GetConsoleMode(stream, &mode) != FALSE;
}

bool Write(DWORD which, std::string_view utf8) {
    const HANDLE stream = Standard(which);
    if (stream == nullptr) {
        return utf8.empty();
    }
    constexpr size_t kChunk = 1 << 20;
    if (IsConsole(stream)) {
        const std::u16string text = Text::Utf8ToUtf16(utf8);
        for (size_t done = 0; done < text.size();) {
            DWORD written = 0;
            const DWORD count = static_cast<DWORD>(std::min(text.size() - done, kChunk));
            if (!WriteConsoleW(stream, Win32::Wide(text.data() + done), count, &written, nullptr) ||
                written == 0) {
                return false;
            }
            done += written;
        }
        return true;
    }
    for (size_t done = 0; done < utf8.size();) {
        DWORD written = 0;
        const DWORD count = static_cast<DWORD>(std::min(utf8.size() - done, kChunk));
        if (!WriteFile(stream, utf8.data() + done, count, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

DecodeStreams::ReadResult DecodeStreams::ReadStandardInput(std::string* bytes) {
    const HANDLE stream = Standard(STD_INPUT_HANDLE);
    return stream == nullptr ? ReadResult::NotOpened : ReadToEnd(stream, bytes);
}

// The name is opened as given, wide: any name the file system holds, whatever the code page.
DecodeStreams::ReadResult DecodeStreams::ReadNamedFile(const std::u16string& path,
                                                       std::string* bytes) {
    const Win32::UniqueHandle file = Win32::OwnHandle(CreateFileW(
        Win32::Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return file ? ReadToEnd(file.get(), bytes) : ReadResult::NotOpened;
}

bool DecodeStreams::WriteStandardOutput(std::string_view utf8) {
    return Write(STD_OUTPUT_HANDLE, utf8);
}

void DecodeStreams::WriteStandardError(const std::u16string& text) {
    Write(STD_ERROR_HANDLE, Text::Utf16ToUtf8(text));
}
