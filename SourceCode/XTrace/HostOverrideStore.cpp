// Host stand-in for the per-user override key: a regedit-style text file (see
// OverrideStorePath) whose [HKEY_CURRENT_USER\\XTrace] section holds the values, read afresh
// each time the key is opened.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>

#include "TracePlatform.h"
#include "TracePlatformHost.h"
#include "WinError.h"

namespace {

int g_openKeys = 0; // override keys opened and not yet closed

using namespace TracePlatformHost::IniText;

namespace WinError = HostSupport::WinError;

// What a buffer holds after ERROR_MORE_DATA: Windows leaves it undefined, so the stand-in
// fills it with a recognisable pattern the caller must not read as data.
constexpr uint8_t kUndefinedByte = 0xCD;

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

// A hexadecimal number of one to `maxDigits` digits, the blanks around it ignored.
bool ParseHex(std::u16string_view digits, size_t maxDigits, uint32_t* value) {
    digits = Trim(digits);
    if (digits.empty() || digits.size() > maxDigits) {
        return false;
    }
    *value = 0;
    for (char16_t c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        *value = (*value << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

// dword:XXXXXXXX -> 4 bytes little-endian.
bool ParseDword(std::u16string_view digits, std::vector<uint8_t>* out) {
    uint32_t value = 0;
    if (!ParseHex(digits, 8, &value)) {
        return false;
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
        uint32_t value = 0;
        if (!ParseHex(list.substr(0, comma), 2, &value)) {
            return false;
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

namespace TracePlatformHost {

int OpenOverrideKeys() {
    return g_openKeys;
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

} // namespace TracePlatformHost

namespace TracePlatform {

int32_t OpenOverrideKey(KeyHandle* key) {
    TracePlatformHost::CountPlatformCall();
    if (key == nullptr) {
        return WinError::INVALID_PARAMETER;
    }
    *key = nullptr;
    auto* opened = new OverrideKey;
    if (!LoadOverrideKey(opened)) {
        delete opened;
        return WinError::FILE_NOT_FOUND;
    }
    *key = opened;
    ++g_openKeys;
    return 0;
}

int32_t QueryOverride(KeyHandle key, const char16_t* name, uint8_t* data, uint32_t* size) {
    TracePlatformHost::CountPlatformCall();
    if (key == nullptr) {
        return WinError::INVALID_HANDLE;
    }
    if (data != nullptr && size == nullptr) {
        return WinError::INVALID_PARAMETER;
    }
    const auto& values = static_cast<OverrideKey*>(key)->values;
    const auto found = values.find(FoldName(name != nullptr ? name : u""));
    if (found == values.end()) {
        return WinError::FILE_NOT_FOUND;
    }
    const std::vector<uint8_t>& value = found->second;
    const auto length = static_cast<uint32_t>(value.size());
    if (size == nullptr) {
        return 0;
    }
    if (data != nullptr && length > *size) {
        std::memset(data, kUndefinedByte, *size);
        *size = length;
        return WinError::MORE_DATA;
    }
    if (data != nullptr && length > 0) {
        std::memcpy(data, value.data(), length);
    }
    *size = length;
    return 0;
}

void CloseOverrideKey(KeyHandle key) {
    TracePlatformHost::CountPlatformCall();
    if (key != nullptr) {
        --g_openKeys;
    }
    delete static_cast<OverrideKey*>(key);
}

} // namespace TracePlatform
