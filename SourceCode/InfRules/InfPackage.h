// What a driver package's INF offers on a platform, read through an InfSource: its models for
// the platform, the catalog entry that applies, and the files its install sections copy. Also
// what keeps the package from installing: the problems, each in words that name the thing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "InfPlatform.h"

namespace InfRules {

// One line of a section: its key (empty when it has none) and its fields after the '=' (or
// the whole line's fields when it has no key), with %strkey% tokens replaced.
struct InfLine {
    std::u16string key;
    std::vector<std::u16string> fields;
};

// An opened INF. On Windows the Setup API's parser stands behind it, on the host the
// simulator's.
class InfSource {
  public:
    virtual ~InfSource() = default;
    // The lines of `section` (names compare ignoring case), in order. False: no such section.
    virtual bool Section(const std::u16string& name, std::vector<InfLine>* lines) const = 0;
};

// A line of a models section: a device description, its install section and its IDs.
struct Model {
    std::u16string section; // the models section it is in
    std::u16string description;
    std::u16string installSection;
    std::vector<std::u16string> ids; // hardware ID, then compatible IDs
};

struct PackageFacts {
    Platform platform = Platform::Amd64;
    // The [Manufacturer] entries whose models section applies here, and those with none.
    std::vector<std::u16string> modelsSections;
    std::vector<std::u16string> manufacturersWithout;
    std::vector<Model> models;
    std::u16string catalogKey; // "CatalogFile.NTamd64", "CatalogFile.NT" or "CatalogFile"
    std::u16string catalog;    // the file it names; empty: none
};

// Reads the facts of `inf` for `platform`. The models sections are those ModelsSection picks;
// the catalog is [Version]'s CatalogFile.NT<arch>, else CatalogFile.NT, else CatalogFile.
PackageFacts ReadPackageFacts(const InfSource& inf, Platform platform, const OsVersion& os);

// The models that name `id` (ignoring the case of ASCII letters) among their IDs, in INF order.
std::vector<const Model*> ModelsFor(const PackageFacts& facts, const std::u16string& id);

// The section Windows runs for install section `base` on `platform`: base.NT<arch>, else
// base.NT, else base; empty when the INF has none of them.
std::u16string InstallSectionFor(const InfSource& inf, const std::u16string& base,
                                 Platform platform);

enum class ProblemKind {
    NoDriver,       // the models name no driver for the ID or the device
    NoCatalogEntry, // no CatalogFile entry applies
    CatalogMissing, // the catalog named is not beside the INF
    NoInstallSection,
    FileUnlisted, // a copied file that [SourceDisksFiles] does not list
    FileMissing,  // a copied file that is not in the package
};

struct PackageProblem {
    ProblemKind kind;
    std::u16string text;
};

// Whether the file at a path relative to the INF's folder (components separated by '\') is
// there.
using FileProbe = std::function<bool(const std::u16string& relative)>;

// The problems of the catalog and of the files that the install sections `installSections`
// (the names the models give) copy on the facts' platform, through [SourceDisksFiles.<arch>]
// or [SourceDisksFiles] and [SourceDisksNames]. Files that come from an INF the section
// Includes are the system's and not looked at.
std::vector<PackageProblem> PackageProblems(const InfSource& inf, const PackageFacts& facts,
                                            const std::vector<std::u16string>& installSections,
                                            const FileProbe& exists);

// "the INF's models for NTamd64 name no driver for hardware ID "<id>""
std::u16string NoDriverForId(const PackageFacts& facts, const std::u16string& id);

} // namespace InfRules
