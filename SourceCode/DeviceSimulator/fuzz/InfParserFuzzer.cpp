// The simulator's INF parser on arbitrary bytes. A file that does not parse gives one of the
// Setup API's INF errors, with a line inside the file for a syntax error; one that parses can
// be read by the package rules for every platform, and every line they see is whole.
#include <algorithm>

#include "FuzzSupport.h"
#include "InfPackage.h"
#include "InfParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    DevSim::ParsedInf inf;
    uint32_t line = 0;
    const uint32_t error = DevSim::ParseInf(bytes, &inf, &line);
    if (error != 0) {
        FUZZ_CHECK(error == DevSim::kErrorExpectedSectionName ||
                   error == DevSim::kErrorBadSectionNameLine ||
                   error == DevSim::kErrorSectionNameTooLong ||
                   error == DevSim::kErrorWrongInfStyle);
        FUZZ_CHECK(inf.sections.empty());
        const size_t lines = static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
        FUZZ_CHECK(error == DevSim::kErrorWrongInfStyle ? line == 0 : line >= 1 && line <= lines);
        return 0;
    }
    std::vector<InfRules::InfLine> version;
    FUZZ_CHECK(inf.Section(u"VERSION", &version) && !version.empty());
    for (InfRules::Platform platform :
         {InfRules::Platform::X86, InfRules::Platform::Amd64, InfRules::Platform::Arm64}) {
        const InfRules::PackageFacts facts =
            InfRules::ReadPackageFacts(inf, platform, InfRules::OsVersion{});
        std::vector<std::u16string> sections;
        for (const InfRules::Model& model : facts.models) {
            sections.push_back(model.installSection);
            for (const std::u16string& id : model.ids) {
                FUZZ_CHECK(!InfRules::ModelsFor(facts, id).empty());
            }
        }
        InfRules::PackageProblems(inf, facts, sections, [](const std::u16string& relative) {
            return relative.size() % 2 == 0;
        });
    }
    return 0;
}
