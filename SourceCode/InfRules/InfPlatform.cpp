#include "InfPlatform.h"

#include <array>
#include <tuple>
#include <utility>

namespace InfRules {

namespace {

// One parsed decoration; `valid` false when it is not of the NT[arch][.fields] form.
struct Decoration {
    bool valid = false;
    std::u16string arch;
    std::array<std::optional<uint32_t>, 5> fields; // major, minor, product type, suite, build
};

// A decimal or 0x-hexadecimal number of at most 32 bits, from `text` in lower case (Parse lowers
// the whole decoration first).
std::optional<uint32_t> Number(const std::u16string& text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    uint64_t value = 0;
    size_t at = 0;
    uint32_t base = 10;
    if (text.size() > 2 && text[0] == u'0' && text[1] == u'x') {
        base = 16;
        at = 2;
    }
    for (; at < text.size(); ++at) {
        const char16_t c = text[at];
        const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                          : c >= u'a' && c <= u'f' ? c - u'a' + 10
                                                   : 99;
        if (digit >= static_cast<int>(base)) {
            return std::nullopt;
        }
        value = value * base + static_cast<uint32_t>(digit);
    }
    if (value > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// Each platform with its architecture's name, as decorations and the simulator's machine file
// write it; both directions read this one table.
constexpr std::array<std::pair<Platform, const char16_t*>, 3> kArchitectures{{
    {Platform::X86, u"x86"},
    {Platform::Amd64, u"amd64"},
    {Platform::Arm64, u"arm64"},
}};

Decoration Parse(const std::u16string& text) {
    Decoration out;
    const std::u16string lower = Lower(text);
    if (!lower.starts_with(u"nt")) {
        return out;
    }
    size_t dot = lower.find(u'.');
    out.arch = lower.substr(2, dot == std::u16string::npos ? std::u16string::npos : dot - 2);
    size_t field = 0;
    while (dot != std::u16string::npos) {
        if (field == out.fields.size()) {
            return out;
        }
        const size_t next = lower.find(u'.', dot + 1);
        const std::u16string part = lower.substr(
            dot + 1, next == std::u16string::npos ? std::u16string::npos : next - dot - 1);
        if (!part.empty()) {
            out.fields[field] = Number(part);
            if (!out.fields[field]) {
                return out;
            }
        }
        ++field;
        dot = next;
    }
    out.valid = true;
    return out;
}

} // namespace

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c + (u'a' - u'A'));
        }
    }
    return text;
}

std::u16string ArchitectureName(Platform platform) {
    for (const auto& [known, name] : kArchitectures) {
        if (known == platform) {
            return name;
        }
    }
    return u"amd64";
}

std::u16string PlatformDecoration(Platform platform) {
    return u"NT" + ArchitectureName(platform);
}

std::optional<Platform> PlatformFromName(const std::u16string& name) {
    for (const auto& [platform, known] : kArchitectures) {
        if (name == known) {
            return platform;
        }
    }
    return std::nullopt;
}

std::optional<std::u16string> ModelsSection(const std::u16string& base,
                                            const std::vector<std::u16string>& decorations,
                                            Platform platform, const OsVersion& os) {
    const std::u16string arch = ArchitectureName(platform);
    std::optional<size_t> best;
    std::tuple<uint32_t, uint32_t, uint32_t, bool, bool> bestRank{};
    for (size_t i = 0; i < decorations.size(); ++i) {
        const Decoration d = Parse(decorations[i]);
        if (!d.valid || (d.arch.empty() ? platform != Platform::X86 : d.arch != arch)) {
            continue;
        }
        const uint32_t major = d.fields[0].value_or(0);
        const uint32_t minor = d.fields[1].value_or(0);
        const uint32_t build = d.fields[4].value_or(0);
        const bool versionFits =
            std::make_tuple(major, minor) <= std::make_tuple(os.major, os.minor) &&
            (!d.fields[4] || build <= os.build) && (!d.fields[2] || *d.fields[2] == os.productType);
        if (!versionFits) {
            continue;
        }
        const auto rank =
            std::make_tuple(major, minor, build, d.fields[2].has_value(), !d.arch.empty());
        if (!best || rank > bestRank) {
            best = i;
            bestRank = rank;
        }
    }
    if (best) {
        return base + u"." + decorations[*best];
    }
    if (platform == Platform::X86) {
        return base;
    }
    return std::nullopt;
}

} // namespace InfRules
