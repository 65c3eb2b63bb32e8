#include "SystemInf.h"

#include <algorithm>
#include <memory>

#include "Numbers.h"

bool SystemInf::Section(const std::u16string& name, std::vector<InfRules::InfLine>* lines) const {
    if (DevSvc::ReadInfSection(m_inf, name.c_str(), lines)) {
        return true;
    }
    const uint32_t error = DevSvc::LastError();
    lines->clear();
    if (error != DevSvc::ERROR_LINE_NOT_FOUND_CODE) {
        const std::u16string reason = u"the INF's section [" + name +
                                      u"] could not be read (error 0x" + Text::Hex(error) + u")";
        if (std::find(m_failures.begin(), m_failures.end(), reason) == m_failures.end()) {
            m_failures.push_back(reason);
        }
    }
    return false;
}

std::u16string FolderWithSeparator(const std::u16string& path) {
    const size_t cut = path.find_last_of(u"\\/");
    return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
}

NamedCatalog CatalogNamed(const std::u16string& infPath) {
    struct InfClose {
        void operator()(void* inf) const { DevSvc::CloseInf(inf); }
    };
    NamedCatalog catalog;
    uint32_t line = 0;
    const std::unique_ptr<void, InfClose> inf(DevSvc::OpenInf(infPath.c_str(), &line));
    if (inf == nullptr) {
        catalog.openError = DevSvc::LastError();
        return catalog;
    }
    catalog.opened = true;
    const InfRules::PackageFacts facts = InfRules::ReadPackageFacts(
        SystemInf(inf.get()), DevSvc::NativePlatform(), DevSvc::RunningOsVersion());
    catalog.platform = facts.platform;
    catalog.name = facts.catalog;
    catalog.key = facts.catalogKey;
    if (!catalog.name.empty()) {
        catalog.path = FolderWithSeparator(infPath) + catalog.name;
    }
    return catalog;
}
