// The portable INF rules, apart from any parser: which models section the TargetOS decorations
// pick for a platform.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "InfPlatform.h"
#include "Utf8.h"

namespace {

// The TargetOS decoration rule: the platform's architecture, or none on x86 only; a version
// not above the running one, the closest winning; an undecorated section on x86 only.
TEST(InfRules, ModelsSectionFollowsTheTargetOsDecorations) {
    using InfRules::Platform;
    const InfRules::OsVersion win10{10, 0, 19045, 1};
    const std::vector<std::tuple<std::vector<std::u16string>, Platform, std::u16string>> cases = {
        {{u"NTx86", u"NTamd64"}, Platform::Amd64, u"M.NTamd64"},
        {{u"NTx86", u"NTamd64"}, Platform::Arm64, u""},
        {{u"NT"}, Platform::X86, u"M.NT"},
        {{u"NT"}, Platform::Amd64, u""},
        {{}, Platform::X86, u"M"},
        {{}, Platform::Amd64, u""},
        {{u"ntAMD64.6.1", u"NTamd64.10.0", u"NTamd64.11.0"}, Platform::Amd64, u"M.NTamd64.10.0"},
        {{u"NTamd64.10.0...19041", u"NTamd64.10.0...22000"},
         Platform::Amd64,
         u"M.NTamd64.10.0...19041"},
        {{u"NTamd64", u"NTamd64.10.0.3"}, Platform::Amd64, u"M.NTamd64"},
        {{u"NTamd64.10.0.1", u"NTamd64.10.0"}, Platform::Amd64, u"M.NTamd64.10.0.1"},
        {{u"NT.10.0", u"NTx86.6.0"}, Platform::X86, u"M.NT.10.0"},
        {{u"NT.6.0", u"NTx86.6.0"}, Platform::X86, u"M.NTx86.6.0"},
        {{u"NTamd64.x", u"NTamd64.10.0.1.2.3.4"}, Platform::X86, u"M"},
        // The running build itself is not above it; a product type in hexadecimal, either case.
        {{u"NTamd64.10.0...19041", u"NTamd64.10.0...19045"},
         Platform::Amd64,
         u"M.NTamd64.10.0...19045"},
        {{u"NTamd64", u"NTamd64.10.0.0x1"}, Platform::Amd64, u"M.NTamd64.10.0.0x1"},
        {{u"NTamd64", u"NTamd64.10.0.0X3"}, Platform::Amd64, u"M.NTamd64"},
        {{u"NTamd64.0x"}, Platform::Amd64, u""},
        // Of two that rank the same, the first listed.
        {{u"NTamd64.10", u"NTamd64.10.0"}, Platform::Amd64, u"M.NTamd64.10"},
        {{u"NTamd64", u"NTamd64.10.0.0x1.0xFFFFffff"},
         Platform::Amd64,
         u"M.NTamd64.10.0.0x1.0xFFFFffff"},
    };
    for (const auto& [decorations, platform, expected] : cases) {
        SCOPED_TRACE(Text::Utf16ToUtf8(expected));
        EXPECT_EQ(InfRules::ModelsSection(u"M", decorations, platform, win10).value_or(u""),
                  expected);
    }
}

} // namespace
