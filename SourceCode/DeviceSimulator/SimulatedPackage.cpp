#include "SimulatedPackage.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "DeviceServices.h"
#include "InfParser.h"
#include "SetupCalls-host.h"

namespace DevSim {

namespace {

struct Package {
    ParsedInf inf;
    InfRules::PackageFacts facts; // as read on the simulated machine's platform and version
    std::u16string folder;        // with its trailing separator
};

uint32_t Load(const std::u16string& infPath, Package* package) {
    std::vector<uint8_t> bytes;
    if (const uint32_t error = ReadPackageFile(infPath, &bytes)) {
        return error;
    }
    uint32_t line = 0;
    if (const uint32_t error = ParseInf(bytes, &package->inf, &line)) {
        return error;
    }
    package->facts =
        InfRules::ReadPackageFacts(package->inf, MachinePlatform(), SimulatedOsVersion());
    const size_t cut = infPath.find_last_of(u"\\/");
    package->folder = cut == std::u16string::npos ? u"" : infPath.substr(0, cut + 1);
    return 0;
}

} // namespace

uint32_t ReadPackageFile(const std::u16string& path, std::vector<uint8_t>* bytes) {
    const std::string file = DevSvc::HostCalls::HostPath(path.c_str());
    if (!Hooks::IsRegularFile(file)) {
        return DevSvc::ERROR_FILE_NOT_FOUND_CODE;
    }
    std::ifstream in(file, std::ios::binary);
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.bad() ? 5 : 0;
}

InfRules::Platform MachinePlatform() {
    if (Current().platform) {
        return *Current().platform;
    }
#if defined(__aarch64__)
    return InfRules::Platform::Arm64;
#elif defined(__i386__)
    return InfRules::Platform::X86;
#else
    return InfRules::Platform::Amd64;
#endif
}

InfRules::OsVersion SimulatedOsVersion() {
    return {10, 0, 19045, 1};
}

uint32_t DriversFor(const Device& device, const std::u16string& infPath,
                    std::vector<InfRules::DriverLine>* drivers) {
    drivers->clear();
    Package package;
    if (const uint32_t error = Load(infPath, &package)) {
        return error;
    }
    const InfRules::PackageFacts& facts = package.facts;
    const std::vector<std::u16string> ids =
        device.hardwareIds ? SplitMultiSz(*device.hardwareIds) : std::vector<std::u16string>{};
    // Every models line that names one of the device's IDs, in any place, in INF order; each
    // as Windows' driver details give it: the line's first ID (empty when its place is) and its
    // compatible IDs.
    for (const InfRules::Model& model : facts.models) {
        const bool named = std::any_of(ids.begin(), ids.end(), [&](const std::u16string& id) {
            return std::any_of(model.ids.begin(), model.ids.end(), [&](const std::u16string& e) {
                return InfRules::Lower(e) == InfRules::Lower(id);
            });
        });
        if (named) {
            drivers->push_back(
                {model.description, model.installSection, model.hardwareId, model.compatibleIds});
        }
    }
    return 0;
}

uint32_t CheckPackageImport(const std::u16string& infPath) {
    Package package;
    if (const uint32_t error = Load(infPath, &package)) {
        return error;
    }
    const InfRules::PackageFacts& facts = package.facts;
    std::vector<std::u16string> sections;
    for (const InfRules::Model& model : facts.models) {
        sections.push_back(model.installSection);
    }
    const std::u16string folder = package.folder;
    const auto problems = InfRules::PackageProblems(
        package.inf, facts, sections, [&folder](const std::u16string& relative) {
            const uint32_t attributes = DevSvc::FileAttributesOf((folder + relative).c_str());
            return attributes != DevSvc::INVALID_FILE_ATTRIBUTES_VALUE &&
                   (attributes & DevSvc::FILE_ATTRIBUTE_DIRECTORY_BIT) == 0;
        });
    for (const InfRules::PackageProblem& problem : problems) {
        if (problem.kind == InfRules::ProblemKind::NoCatalogEntry ||
            problem.kind == InfRules::ProblemKind::CatalogMissing) {
            return DevSvc::ERROR_NO_CATALOG_FOR_OEM_INF_CODE;
        }
    }
    return problems.empty() ? 0 : DevSvc::ERROR_FILE_NOT_FOUND_CODE;
}

} // namespace DevSim

namespace DevSim {

uint32_t PackageCatalog(const std::u16string& infPath, std::u16string* name,
                        std::vector<uint8_t>* bytes) {
    name->clear();
    bytes->clear();
    Package package;
    if (const uint32_t error = Load(infPath, &package)) {
        return error;
    }
    const InfRules::PackageFacts& facts = package.facts;
    if (facts.catalog.empty()) {
        return 0;
    }
    *name = facts.catalog;
    return ReadPackageFile(package.folder + facts.catalog, bytes);
}

} // namespace DevSim
