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
    std::vector<std::u16string> ids; // hardware ID, then compatible IDs (the non-empty ones)
    std::u16string hardwareId;       // the line's first ID; empty when its place is empty
    std::vector<std::u16string> compatibleIds; // the non-empty IDs after it
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

// A driver that Windows lists for a device from the INF, as SP_DRVINFO_DATA and
// SP_DRVINFO_DETAIL_DATA give it: the models line's description, install section, its
// hardware ID (the line's first ID, empty when the line has none there) and compatible IDs.
struct DriverLine {
    std::u16string description;
    std::u16string installSection;
    std::u16string hardwareId;
    std::vector<std::u16string> compatibleIds;
};

// Which of `drivers` a device whose hardware IDs are `deviceIds` (best first) gets, and the ID
// of that line it matched: a line's hardware ID beats its compatible IDs, then an earlier
// device ID beats a later one, then an earlier place on the line, then the earlier driver.
// False when no line names any of the device's IDs.
bool BestDriver(const std::vector<DriverLine>& drivers,
                const std::vector<std::u16string>& deviceIds, size_t* index,
                std::u16string* matchedId);

// Whether `line` is a line of the facts' models: the same install section, and the same IDs in
// the same places (ignoring the case of ASCII letters).
bool IsModelLine(const PackageFacts& facts, const DriverLine& line);

enum class ProblemKind {
    NoDriver,       // the models name no driver for the ID or the device
    NoCatalogEntry, // no CatalogFile entry applies
    CatalogMissing, // the catalog named is not beside the INF
    NoInstallSection,
    FileUnlisted, // a copied file that [SourceDisksFiles] does not list
    FileMissing,  // a copied file that is not in the package
    DiskUnknown,  // a copied file listed on a disk that [SourceDisksNames] does not name
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
// or [SourceDisksFiles] and [SourceDisksNames], and those of each install section's
// .CoInstallers section. Files that come from an INF the section Includes (or sections it
// Needs) are the system's and not looked at.
std::vector<PackageProblem> PackageProblems(const InfSource& inf, const PackageFacts& facts,
                                            const std::vector<std::u16string>& installSections,
                                            const FileProbe& exists);

// "the INF's models for NTamd64 name no driver for hardware ID "<id>""
std::u16string NoDriverForId(const PackageFacts& facts, const std::u16string& id);

} // namespace InfRules
