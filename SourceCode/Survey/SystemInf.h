// An INF opened by the system's INF parser, as the package rules (SourceCode/InfRules) read it,
// and the catalog it names for the machine's platform. The pre-flight, the staged-copy check and
// the deploy program's /trustpublisher all read an INF this one way, so that they cannot pick
// different catalogs. Only reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "InfPackage.h"
#include "InfServices.h"

// A section that is there but whose lines cannot be read is kept as a reason (Failures()).
class SystemInf : public InfRules::InfSource {
  public:
    explicit SystemInf(DevSvc::InfHandle inf) : m_inf(inf) {}
    bool Section(const std::u16string& name, std::vector<InfRules::InfLine>* lines) const override;
    const std::vector<std::u16string>& Failures() const { return m_failures; }

  private:
    DevSvc::InfHandle m_inf;
    mutable std::vector<std::u16string> m_failures;
};

// The catalog the INF at `infPath` names for the machine's platform.
struct NamedCatalog {
    bool opened = false; // the INF opened; else `openError` is the system's error
    uint32_t openError = 0;
    InfRules::Platform platform{};
    std::u16string name; // the catalog's file name; empty: the INF names none
    std::u16string key;  // the entry that names it ("CatalogFile.NTamd64")
    std::u16string path; // the catalog beside the INF
};
NamedCatalog CatalogNamed(const std::u16string& infPath);

// The folder of `path` with its separator, as the path writes it; empty when it has none.
std::u16string FolderWithSeparator(const std::u16string& path);
