// Linux stand-ins for the trace platform: /proc/self/exe for the executable's path, our own
// INI reader, a regedit-style text file for the per-user override key, an optional file for
// the debugger channel, the C library clock and an append with an exclusive advisory lock.
// Nothing here writes to the console.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string_view>

#include "TracePlatform.h"
#include "TracePlatformHost.h"

namespace {

constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorInvalidHandle = 6;
constexpr int32_t kErrorInvalidParameter = 87;
constexpr int32_t kErrorMoreData = 234;

// What a buffer holds after ERROR_MORE_DATA: Windows leaves it undefined, so the stand-in
// fills it with a recognisable pattern the caller must not read as data.
constexpr uint8_t kUndefinedByte = 0xCD;

// _localtime64_s accepts 1970-01-01 00:00:00 to 3000-12-31 23:59:59 UTC and fails outside.
constexpr int64_t kLatestLocalTime = 32535215999;

std::optional<std::u16string> g_executablePath;
std::vector<std::u16string>* g_debugSink = nullptr;
std::optional<int64_t> g_clock;

// ---- Text -----------------------------------------------------------------------------------

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::u16string DecodeUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        size_t length = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            c = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            c = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            c = lead & 0x07;
            minimum = 0x10000;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        size_t taken = 1;
        while (taken < length && i + taken < text.size() &&
               (static_cast<uint8_t>(text[i + taken]) & 0xC0) == 0x80) {
            c = (c << 6) | (static_cast<uint8_t>(text[i + taken]) & 0x3F);
            ++taken;
        }
        i += taken;
        if (taken < length || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = kReplacement;
        }
        AppendUtf16(out, c);
    }
    return out;
}

std::string EncodeUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

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
    return DecodeUtf8(view);
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

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char16_t FoldCase(char16_t c) {
    return (c >= u'a' && c <= u'z') ? c - (u'a' - u'A') : c;
}

// Names compare without regard to the case of ASCII letters.
bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

std::u16string FoldName(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) {
        c = FoldCase(c);
    }
    return out;
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

// ---- Settings file --------------------------------------------------------------------------

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

// ---- Override store -------------------------------------------------------------------------

constexpr std::u16string_view kOverrideKeyName = u"HKEY_CURRENT_USER\\XTrace";

struct OverrideKey {
    std::map<std::u16string, std::vector<uint8_t>> values; // by folded name
};

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// A quoted name or string at the start of `text` with regedit's escapes (\" and \\). On success
// `text` is left after the closing quote.
bool ParseQuoted(std::u16string_view& text, std::u16string* out) {
    if (text.empty() || text.front() != u'"') {
        return false;
    }
    out->clear();
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            out->push_back(text[++i]);
        } else if (text[i] == u'"') {
            text.remove_prefix(i + 1);
            return true;
        } else {
            out->push_back(text[i]);
        }
    }
    return false;
}

bool StartsWithName(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// dword:XXXXXXXX -> 4 bytes little-endian.
bool ParseDword(std::u16string_view digits, std::vector<uint8_t>* out) {
    digits = Trim(digits);
    if (digits.empty() || digits.size() > 8) {
        return false;
    }
    uint32_t value = 0;
    for (char16_t c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    *out = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return true;
}

// hex:12,ab,... -> those bytes; an empty list is zero bytes.
bool ParseHexBytes(std::u16string_view list, std::vector<uint8_t>* out) {
    out->clear();
    list = Trim(list);
    if (list.empty()) {
        return true;
    }
    for (;;) {
        const size_t comma = list.find(u',');
        const std::u16string_view item = Trim(list.substr(0, comma));
        if (item.empty() || item.size() > 2) {
            return false;
        }
        int value = 0;
        for (char16_t c : item) {
            const int digit = HexDigit(c);
            if (digit < 0) {
                return false;
            }
            value = value * 16 + digit;
        }
        out->push_back(static_cast<uint8_t>(value));
        if (comma == std::u16string_view::npos) {
            return true;
        }
        list.remove_prefix(comma + 1);
    }
}

// One value line of the key's section. A malformed line is skipped, as is the rest of it.
void ParseValueLine(std::u16string_view line, OverrideKey* key) {
    std::u16string name;
    if (line.front() == u'@') {
        line.remove_prefix(1); // the key's default value, which has the empty name
    } else if (!ParseQuoted(line, &name)) {
        return;
    }
    line = Trim(line);
    if (line.empty() || line.front() != u'=') {
        return;
    }
    line = Trim(line.substr(1));
    std::vector<uint8_t> data;
    if (line == u"-") {
        key->values.erase(FoldName(name));
        return;
    }
    if (!line.empty() && line.front() == u'"') {
        std::u16string text;
        if (!ParseQuoted(line, &text)) {
            return;
        }
        for (char16_t c : text) {
            data.push_back(static_cast<uint8_t>(c));
            data.push_back(static_cast<uint8_t>(c >> 8));
        }
        data.push_back(0);
        data.push_back(0);
    } else if (StartsWithName(line, u"dword:")) {
        if (!ParseDword(line.substr(6), &data)) {
            return;
        }
    } else if (StartsWithName(line, u"hex:") || StartsWithName(line, u"hex(")) {
        const size_t colon = line.find(u':');
        if (colon == std::u16string_view::npos || !ParseHexBytes(line.substr(colon + 1), &data)) {
            return;
        }
    } else {
        return;
    }
    key->values[FoldName(name)] = std::move(data); // later lines win, as in an import
}

// Reads the store; false when there is no file or it has no section for the key.
bool LoadOverrideKey(OverrideKey* key) {
    const std::string path = TracePlatformHost::OverrideStorePath();
    std::string bytes;
    if (path.empty() || !ReadWholeFile(path, &bytes)) {
        return false;
    }
    const std::u16string text = DecodeFile(bytes);
    bool found = false;
    bool inKey = false;
    std::u16string pending; // a value going on over several lines, each ending in '\\'
    std::u16string joined;
    for (std::u16string_view line : SplitLines(text)) {
        line = Trim(line);
        if (!line.empty() && line.back() == u'\\' && (!pending.empty() || !IsComment(line))) {
            pending.append(line.substr(0, line.size() - 1));
            continue;
        }
        if (!pending.empty()) {
            joined = std::move(pending);
            pending.clear();
            joined.append(line);
            line = joined;
        }
        if (line.empty() || IsComment(line)) {
            continue;
        }
        if (line.front() == u'[') {
            inKey = SameName(SectionName(line), kOverrideKeyName);
            found = found || inKey;
        } else if (inKey) {
            ParseValueLine(line, key);
        }
    }
    return found;
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

void ResetControls() {
    g_executablePath.reset();
    g_debugSink = nullptr;
    g_clock.reset();
}

std::string OverrideStorePath() {
    const char* explicitPath = std::getenv("XTRACE_USER_REGISTRY");
    if (explicitPath != nullptr && explicitPath[0] != '\0') {
        return explicitPath;
    }
    // XDG: a relative XDG_CONFIG_HOME is ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/Installer/user.reg";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.config/Installer/user.reg";
    }
    return {};
}

std::string HostPath(const char16_t* path) {
    std::string out = EncodeUtf8(path);
    for (char& c : out) {
        if (c == '\\') {
            c = '/';
        }
    }
    return out;
}

std::u16string CorePath(const std::string& path) {
    std::u16string out = DecodeUtf8(path);
    for (char16_t& c : out) {
        if (c == u'/') {
            c = u'\\';
        }
    }
    return out;
}

std::u16string FromUtf8(const std::string& text) {
    return DecodeUtf8(text);
}

std::string ToUtf8(const std::u16string& text) {
    return EncodeUtf8(text);
}

} // namespace TracePlatformHost

// ---- The platform -----------------------------------------------------------------------------

namespace TracePlatform {

uint32_t ExecutablePath(char16_t* buffer, uint32_t capacity) {
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
        return capacity;
    }
    path.copy(buffer, path.size());
    buffer[path.size()] = u'\0';
    return static_cast<uint32_t>(path.size());
}

int32_t ProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                   const char16_t* path) {
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

int32_t OpenOverrideKey(KeyHandle* key) {
    if (key == nullptr) {
        return kErrorInvalidParameter;
    }
    *key = nullptr;
    auto* opened = new OverrideKey;
    if (!LoadOverrideKey(opened)) {
        delete opened;
        return kErrorFileNotFound;
    }
    *key = opened;
    return 0;
}

int32_t QueryOverride(KeyHandle key, const char16_t* name, uint8_t* data, uint32_t* size) {
    if (key == nullptr) {
        return kErrorInvalidHandle;
    }
    if (data != nullptr && size == nullptr) {
        return kErrorInvalidParameter;
    }
    const auto& values = static_cast<OverrideKey*>(key)->values;
    const auto found = values.find(FoldName(name != nullptr ? name : u""));
    if (found == values.end()) {
        return kErrorFileNotFound;
    }
    const std::vector<uint8_t>& value = found->second;
    const auto length = static_cast<uint32_t>(value.size());
    if (size == nullptr) {
        return 0;
    }
    if (data != nullptr && length > *size) {
        std::memset(data, kUndefinedByte, *size);
        *size = length;
        return kErrorMoreData;
    }
    if (data != nullptr && length > 0) {
        std::memcpy(data, value.data(), length);
    }
    *size = length;
    return 0;
}

void CloseOverrideKey(KeyHandle key) {
    delete static_cast<OverrideKey*>(key);
}

void DebugChannelWrite(const char16_t* text) {
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
    std::string line = EncodeUtf8(text);
    if (line.empty() || line.back() != '\n') {
        line.push_back('\n');
    }
    WriteAll(fd, line.data(), line.size());
    close(fd);
}

int64_t CurrentTime() {
    return g_clock ? *g_clock : static_cast<int64_t>(std::time(nullptr));
}

bool ToLocalTime(int64_t time, LocalTime* out) {
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

bool AppendToFile(const char16_t* path, const char* bytes, size_t count) {
    if (path == nullptr) {
        return false;
    }
    const int fd = open(TracePlatformHost::HostPath(path).c_str(),
                        O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    // Held open without sharing: a file another writer holds counts as one that cannot be
    // opened.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    if (count > 0 && bytes != nullptr) {
        WriteAll(fd, bytes, count);
    }
    close(fd);
    return true;
}

} // namespace TracePlatform
