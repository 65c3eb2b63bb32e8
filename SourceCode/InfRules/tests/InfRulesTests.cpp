// The portable INF rules, apart from any parser: which models section the TargetOS decorations
// pick for a platform.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "InfPackage.h"
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
        {{u"NTamd64", u"NTamd64.10.0.0X1"}, Platform::Amd64, u"M.NTamd64.10.0.0X1"},
        // A product type ranks above a suite mask alone.
        {{u"NTamd64.10.0..0x10", u"NTamd64.10.0.0x1"}, Platform::Amd64, u"M.NTamd64.10.0.0x1"},
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

// An INF as sections of lines, section names compared as the parsers compare them.
class TableInf : public InfRules::InfSource {
  public:
    explicit TableInf(std::map<std::u16string, std::vector<InfRules::InfLine>> sections)
        : m_sections(std::move(sections)) {}
    bool Section(const std::u16string& name, std::vector<InfRules::InfLine>* lines) const override {
        for (const auto& [section, content] : m_sections) {
            if (Text::Utf16ToUtf8(section) == Text::Utf16ToUtf8(name)) {
                *lines = content;
                return true;
            }
        }
        return false;
    }

  private:
    std::map<std::u16string, std::vector<InfRules::InfLine>> m_sections;
};

// A manufacturer without a models section, or whose models section is missing, is passed over, not
// the end of the list; an install section named twice is checked once, and the ones after it still
// are.
TEST(InfRules, MissingSectionsAreReasonsOfTheirOwn) {
    const TableInf inf({
        {u"Version", {{u"CatalogFile", {u"pkg.cat"}}}},
        {u"Manufacturer",
         {{u"Blank", {u"", u"NTamd64"}},
          {u"First", {u"Gone", u"NTamd64"}},
          {u"Second", {u"Here", u"NTamd64"}}}},
        {u"Here.NTamd64", {{u"Device", {u"Install", u"USB\\VID_1234&PID_5678"}}}},
        {u"Install", {}},
    });
    const InfRules::PackageFacts facts =
        InfRules::ReadPackageFacts(inf, InfRules::Platform::Amd64, {10, 0, 19045, 1});
    EXPECT_EQ(facts.modelsSections,
              (std::vector<std::u16string>{u"Gone.NTamd64", u"Here.NTamd64"}));
    ASSERT_EQ(facts.models.size(), 1u);
    EXPECT_EQ(facts.models[0].installSection, u"Install");
    EXPECT_EQ(facts.catalog, u"pkg.cat");
    std::vector<std::u16string> texts;
    for (const InfRules::PackageProblem& problem :
         InfRules::PackageProblems(inf, facts, {u"Install", u"install", u"Missing", u"Lost"},
                                   [](const std::u16string&) { return true; })) {
        texts.push_back(problem.text);
    }
    EXPECT_EQ(texts,
              (std::vector<std::u16string>{u"the install section [Missing] is not in the INF",
                                           u"the install section [Lost] is not in the INF"}));
}

} // namespace
