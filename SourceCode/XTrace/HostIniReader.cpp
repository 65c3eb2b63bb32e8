// Host stand-in for the settings-file call (ProfileInt): our own reader of INI text, and the
// INI-style text helpers the override store (HostOverrideStore.cpp) reads its file with.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "AsciiCase.h"
#include "TracePlatform.h"
#include "TracePlatformHost.h"
#include "Trim.h"
#include "Utf8.h"

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// Optional sign and decimal digits up to the first other character. Digits accumulate modulo
// 2^32 and the sign negates modulo 2^32, as the Windows call does before its UINT result is read
// as a signed number: "4294967295" gives -1.
int32_t ParseProfileInt(std::u16string_view value) {
    size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == u'-' || value[i] == u'+')) {
        negative = value[i] == u'-';
        ++i;
    }
    uint32_t result = 0;
    for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
        result = result * 10u + static_cast<uint32_t>(value[i] - u'0');
    }
    if (negative) {
        result = 0u - result;
    }
    return static_cast<int32_t>(result);
}

} // namespace

namespace TracePlatformHost::IniText {

// File contents as UTF-16: UTF-16LE after its byte-order mark, otherwise UTF-8 (its mark, if
// any, skipped).
std::u16string DecodeFile(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
        static_cast<uint8_t>(bytes[1]) == 0xFE) {
        std::u16string out;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            out.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                (static_cast<uint8_t>(bytes[i + 1]) << 8)));
        }
        return out;
    }
    std::string_view view(bytes);
    if (view.starts_with("\xEF\xBB\xBF")) {
        view.remove_prefix(3);
    }
    return Text::Utf8ToUtf16(view);
}

bool ReadWholeFile(const std::string& path, std::string* out) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    out->clear();
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            close(fd);
            return got == 0;
        }
        out->append(chunk, static_cast<size_t>(got));
    }
}

std::u16string_view Trim(std::u16string_view text) {
    return TrimmedView(text, IsBlank);
}

// Names compare without regard to the case of ASCII letters.
bool SameName(std::u16string_view a, std::u16string_view b) {
    return EqualIgnoringAsciiCase(a, b);
}

std::u16string FoldName(std::u16string_view name) {
    return LoweredAscii(name);
}

// Splits at LF, dropping the CR of a CR LF.
std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find(u'\n');
        std::u16string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text.remove_prefix(end == std::u16string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

bool IsComment(std::u16string_view line) {
    return !line.empty() && (line.front() == u';' || line.front() == u'#');
}

// "[name]" -> name, trimmed; a missing ']' takes the rest of the line.
std::u16string_view SectionName(std::u16string_view line) {
    line.remove_prefix(1);
    const size_t close = line.rfind(u']');
    return Trim(line.substr(0, close));
}

} // namespace TracePlatformHost::IniText

namespace TracePlatform {

using namespace TracePlatformHost::IniText;

int32_t ProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                   const char16_t* path) {
    TracePlatformHost::CountPlatformCall();
    if (section == nullptr || key == nullptr || path == nullptr) {
        return defaultValue;
    }
    std::string bytes;
    if (!ReadWholeFile(TracePlatformHost::HostPath(path), &bytes)) {
        return defaultValue;
    }
    const std::u16string text = DecodeFile(bytes);
    bool seenSection = false;
    bool inSection = false;
    for (std::u16string_view line : SplitLines(text)) {
        line = Trim(line);
        if (line.empty() || IsComment(line)) {
            continue;
        }
        if (line.front() == u'[') {
            if (seenSection) {
                return defaultValue; // only the first section of that name is searched
            }
            inSection = SameName(SectionName(line), section);
            seenSection = inSection;
            continue;
        }
        if (!inSection) {
            continue;
        }
        // A line without '=' is a key with no value.
        const size_t equals = line.find(u'=');
        if (!SameName(Trim(line.substr(0, equals)), key)) {
            continue;
        }
        const std::u16string_view value = equals == std::u16string_view::npos
                                              ? std::u16string_view{}
                                              : Trim(line.substr(equals + 1));
        return value.empty() ? defaultValue : ParseProfileInt(value);
    }
    return defaultValue;
}

} // namespace TracePlatform
