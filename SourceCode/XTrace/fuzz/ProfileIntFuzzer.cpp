// The settings-file reader (TracePlatform::ProfileInt) on arbitrary files, sections and keys.
//
// Input: section (a length byte and UTF-8), key (the same), then the file's bytes.
//
// What must hold, whatever the file: the default given only matters when no value was found;
// names match whatever the case of their ASCII letters; LF and CR LF line ends read the same;
// a UTF-8 file and the same text in UTF-16LE with its byte-order mark read the same; only the
// first section of the name counts, so a section added at the end changes nothing once a value
// was found.
#include <string_view>

#include "FuzzSupport.h"
#include "TracePlatform.h"
#include "TracePlatformHost.h"

namespace {

constexpr int32_t kDefaultA = 0x5EEDF00D;
constexpr int32_t kDefaultB = -0x2BADBEEF;
constexpr int32_t kPlanted = 731;

using TracePlatformHost::CorePath;
using TracePlatformHost::FromUtf8;
using TracePlatformHost::ToUtf8;

const std::u16string& SettingsPath() {
    static const std::u16string path = CorePath((ScratchFolder() / "TqDbgCfg.ini").string());
    return path;
}

int32_t Read(const std::string& file, const std::u16string& section, const std::u16string& key,
             int32_t defaultValue) {
    WriteFile(TracePlatformHost::HostPath(SettingsPath().c_str()), file);
    return TracePlatform::ProfileInt(section.c_str(), key.c_str(), defaultValue,
                                     SettingsPath().c_str());
}

std::string WithCrLf(const std::string& file) {
    std::string out;
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\n' && (i == 0 || file[i - 1] != '\r')) {
            out += '\r';
        }
        out += file[i];
    }
    return out;
}

bool IsUtf16(const std::string& file) {
    return file.size() >= 2 && static_cast<uint8_t>(file[0]) == 0xFF &&
           static_cast<uint8_t>(file[1]) == 0xFE;
}

std::string AsUtf16(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

bool IsPlainName(const std::u16string& name) {
    if (name.empty()) {
        return false;
    }
    for (char16_t c : name) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'_';
        if (!plain) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const std::vector<uint8_t> sectionBytes = in.Bytes(in.Byte() % 32);
    const std::vector<uint8_t> keyBytes = in.Bytes(in.Byte() % 32);
    const std::vector<uint8_t> fileBytes = in.Rest();
    const std::u16string section = FromUtf8(std::string(sectionBytes.begin(), sectionBytes.end()));
    const std::u16string key = FromUtf8(std::string(keyBytes.begin(), keyBytes.end()));
    const std::string file(fileBytes.begin(), fileBytes.end());

    const int32_t a = Read(file, section, key, kDefaultA);
    const int32_t b = Read(file, section, key, kDefaultB);
    const bool found = !(a == kDefaultA && b == kDefaultB);
    FUZZ_CHECK(!found || a == b);

    FUZZ_CHECK(Read(file, SwapCase(section), SwapCase(key), kDefaultA) == a);
    if (!IsUtf16(file)) {
        FUZZ_CHECK(Read(WithCrLf(file), section, key, kDefaultA) == a);
        std::string_view text(file);
        if (text.starts_with("\xEF\xBB\xBF")) {
            text.remove_prefix(3);
        }
        const std::u16string wide = FromUtf8(std::string(text));
        if (ToUtf8(wide) == text) {
            FUZZ_CHECK(Read(AsUtf16(wide), section, key, kDefaultA) == a);
        }
        if (IsPlainName(section) && IsPlainName(key)) {
            const std::string later = file + "\n[" + ToUtf8(section) + "]\n" + ToUtf8(key) + "=" +
                                      std::to_string(kPlanted) + "\n";
            const int32_t now = Read(later, section, key, kDefaultA);
            FUZZ_CHECK(found ? now == a : (now == kDefaultA || now == kPlanted));
        }
    }
    return 0;
}
