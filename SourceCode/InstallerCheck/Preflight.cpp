#include "Preflight.h"

#include <algorithm>

#include "AsciiCase.h"
#include "CatalogCheck.h"
#include "Numbers.h"
#include "SystemInf.h"

using namespace DevSvc;
using Text::Decimal;
using Text::Hex;

namespace {} // namespace

PreflightRun::PreflightRun(const std::u16string& infPath)
    : m_inf(infPath), m_platform(NativePlatform()), m_underWine(RunningUnderWine()) {
    m_handle.reset(OpenInf(infPath.c_str(), &m_errorLine));
    if (m_handle == nullptr) {
        m_openError = LastError();
    }
}

void PreflightRun::Inspect(DevInfoSet set, DevInfoData* element, const SurveyedDevice& device) {
    DeviceDriver driver{device.instanceId, {}, {}, {}, false};
    if (m_handle != nullptr) {
        // Wine's driver search writes the INF's class into the device's key. There the device's
        // IDs are read and matched with the INF's models for the platform.
        driver.fromModels = m_underWine;
        const uint32_t error = m_underWine ? ReadDeviceIds(set, element, &driver.deviceIds)
                                           : ListDrivers(set, element, m_inf.c_str(),
                                                         &driver.listed, &driver.deviceIds);
        if (error != 0) {
            m_searchFailures.push_back(u"Windows' driver search for " + device.instanceId +
                                       u" failed (error 0x" + Hex(error) + u")");
        }
    }
    m_drivers.push_back(std::move(driver));
}

Preflight PreflightRun::Finish(const std::u16string& hardwareId,
                               const std::vector<SurveyedDevice>& devices) {
    Preflight result;
    result.platform = InfRules::PlatformDecoration(m_platform);
    if (m_handle == nullptr) {
        result.reasons.push_back(u"the INF does not open as a Windows NT INF: error 0x" +
                                 Hex(m_openError) +
                                 (m_errorLine != 0 ? u" at line " + Decimal(m_errorLine)
                                                   : std::u16string(u", no line given")));
        for (const SurveyedDevice& device : devices) {
            result.drivers.push_back({device.instanceId, {}, {}, {}, false});
        }
        return result;
    }
    result.opened = true;
    result.drivers = m_drivers;
    const SystemInf inf(m_handle.get());
    const InfRules::PackageFacts facts =
        InfRules::ReadPackageFacts(inf, m_platform, RunningOsVersion());
    result.catalog = facts.catalog;
    result.catalogKey = facts.catalogKey;
    std::vector<std::u16string> sections;
    result.reasons = m_searchFailures;
    for (DeviceDriver& driver : result.drivers) {
        // A driver the system found in models for another platform (a 32-bit setupapi that
        // reads the INF for x86) is no driver for the native one: the line, whole, must be one
        // of the native platform's models.
        std::vector<InfRules::DriverLine> native;
        if (driver.fromModels) {
            for (const InfRules::Model& model : facts.models) {
                native.push_back({model.description, model.installSection, model.hardwareId,
                                  model.compatibleIds});
            }
        }
        for (const InfRules::DriverLine& line : driver.listed) {
            if (InfRules::IsModelLine(facts, line)) {
                native.push_back(line);
            }
        }
        size_t best = 0;
        std::u16string matched;
        if (InfRules::BestDriver(native, driver.deviceIds, &best, &matched)) {
            driver.choice = {true, native[best].description, native[best].installSection, matched};
        }
        if (driver.choice.found) {
            sections.push_back(driver.choice.installSection);
        } else {
            result.reasons.push_back(u"the INF offers no driver for " + driver.instanceId +
                                     u" on " + result.platform);
        }
    }
    const std::vector<const InfRules::Model*> named = InfRules::ModelsFor(facts, hardwareId);
    result.idNamed = !named.empty();
    if (devices.empty()) {
        if (named.empty()) {
            result.reasons.push_back(InfRules::NoDriverForId(facts, hardwareId));
        }
        for (const InfRules::Model* model : named) {
            sections.push_back(model->installSection);
        }
    }
    const std::u16string folder = FolderWithSeparator(m_inf);
    // The INF and the copied files that are there (the probe is asked for the catalog too):
    // what the catalog must hold.
    std::vector<std::u16string> members = {m_inf.substr(folder.size())};
    const auto exists = [&folder, &members, &facts](const std::u16string& relative) {
        const uint32_t attributes = FileAttributesOf((folder + relative).c_str());
        const bool there = attributes != INVALID_FILE_ATTRIBUTES_VALUE &&
                           (attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) == 0;
        if (there && !EqualIgnoringAsciiCase(relative, facts.catalog) &&
            std::find(members.begin(), members.end(), relative) == members.end()) {
            members.push_back(relative);
        }
        return there;
    };
    bool catalogThere = !facts.catalog.empty();
    for (const InfRules::PackageProblem& problem :
         InfRules::PackageProblems(inf, facts, sections, exists)) {
        result.reasons.push_back(problem.text);
        catalogThere = catalogThere && problem.kind != InfRules::ProblemKind::CatalogMissing;
    }
    result.reasons.insert(result.reasons.end(), inf.Failures().begin(), inf.Failures().end());
    if (catalogThere) {
        const MemberCheck check = CheckMembers(folder, facts.catalog, facts.catalogKey, members);
        result.membersChecked = check.algorithm;
        result.signature = check.signature;
        result.reasons.insert(result.reasons.end(), check.reasons.begin(), check.reasons.end());
    }
    return result;
}
