#include "InfPackage.h"

#include <algorithm>
#include <optional>
#include <tuple>

namespace InfRules {

namespace {

std::u16string Field(const InfLine& line, size_t index) {
    return index < line.fields.size() ? line.fields[index] : std::u16string();
}

bool Has(const InfSource& inf, const std::u16string& section) {
    std::vector<InfLine> lines;
    return inf.Section(section, &lines);
}

// The value of the first line keyed `key` (ignoring case) in `lines`; nullopt: none.
const InfLine* Keyed(const std::vector<InfLine>& lines, const std::u16string& key) {
    const std::u16string wanted = Lower(key);
    for (const InfLine& line : lines) {
        if (Lower(line.key) == wanted) {
            return &line;
        }
    }
    return nullptr;
}

// The names a comma-separated directive value lists (CopyFiles = a, b, @c).
std::vector<std::u16string> Listed(const InfLine& line) {
    std::vector<std::u16string> names;
    for (const std::u16string& field : line.fields) {
        if (!field.empty()) {
            names.push_back(field);
        }
    }
    return names;
}

struct Source {
    bool listed = false;
    bool diskNamed = false;
    std::u16string disk;
    std::u16string relative; // from the INF's folder
};

// Where [SourceDisksFiles.<arch>] or [SourceDisksFiles] puts `file`, through
// [SourceDisksNames.<arch>] or [SourceDisksNames] for its disk's path. The entry is kept as a
// copy: reading the disk's section refills `lines`.
Source Locate(const InfSource& inf, Platform platform, const std::u16string& file) {
    const std::u16string arch = ArchitectureName(platform);
    Source source;
    std::vector<InfLine> lines;
    std::optional<InfLine> entry;
    for (const std::u16string& section :
         {u"SourceDisksFiles." + arch, std::u16string(u"SourceDisksFiles")}) {
        if (inf.Section(section, &lines)) {
            if (const InfLine* found = Keyed(lines, file)) {
                entry = *found;
                break;
            }
        }
    }
    if (!entry) {
        return source;
    }
    source.listed = true;
    std::u16string path;
    source.disk = Field(*entry, 0);
    for (const std::u16string& section :
         {u"SourceDisksNames." + arch, std::u16string(u"SourceDisksNames")}) {
        const InfLine* name = nullptr;
        if (inf.Section(section, &lines) && (name = Keyed(lines, source.disk)) != nullptr) {
            source.diskNamed = true;
            path = Field(*name, 3);
            break;
        }
    }
    for (const std::u16string& part : {path, Field(*entry, 1)}) {
        std::u16string trimmed = part;
        while (!trimmed.empty() && (trimmed.front() == u'\\' || trimmed.front() == u'/')) {
            trimmed.erase(0, 1);
        }
        while (!trimmed.empty() && (trimmed.back() == u'\\' || trimmed.back() == u'/')) {
            trimmed.pop_back();
        }
        if (!trimmed.empty() && trimmed != u".") {
            source.relative += trimmed + u"\\";
        }
    }
    source.relative += file;
    return source;
}

void CheckFile(const InfSource& inf, Platform platform, const std::u16string& file,
               const std::u16string& section, const FileProbe& exists,
               std::vector<PackageProblem>* problems) {
    const Source source = Locate(inf, platform, file);
    if (!source.listed) {
        problems->push_back(
            {ProblemKind::FileUnlisted, u"the file " + file + u" that section [" + section +
                                            u"] copies is not listed in [SourceDisksFiles]"});
    } else if (!source.diskNamed) {
        problems->push_back(
            {ProblemKind::DiskUnknown, u"the file " + file + u" that section [" + section +
                                           u"] copies is on disk \"" + source.disk +
                                           u"\", which [SourceDisksNames] does not name"});
    } else if (!exists(source.relative)) {
        problems->push_back({ProblemKind::FileMissing, u"the file " + source.relative +
                                                           u" that section [" + section +
                                                           u"] copies is not in the package"});
    }
}

// The files that the CopyFiles lines of `section` copy: file lists and @file entries.
void CheckCopyFiles(const InfSource& inf, Platform platform, const std::u16string& section,
                    const FileProbe& exists, std::vector<PackageProblem>* problems) {
    std::vector<InfLine> lines;
    inf.Section(section, &lines);
    for (const InfLine& line : lines) {
        if (Lower(line.key) != u"copyfiles") {
            continue;
        }
        for (const std::u16string& name : Listed(line)) {
            if (name[0] == u'@') {
                CheckFile(inf, platform, name.substr(1), section, exists, problems);
                continue;
            }
            std::vector<InfLine> files;
            if (!inf.Section(name, &files)) {
                problems->push_back({ProblemKind::FileUnlisted, u"the file list [" + name +
                                                                    u"] that section [" + section +
                                                                    u"] copies is not in the INF"});
                continue;
            }
            for (const InfLine& file : files) {
                // "destination[,source,...]": the source name, when given, is the file.
                std::u16string source = Field(file, 1);
                if (source.empty()) {
                    source = Field(file, 0).empty() ? file.key : Field(file, 0);
                }
                if (!source.empty()) {
                    CheckFile(inf, platform, source, name, exists, problems);
                }
            }
        }
    }
}

// Where `id` stands on the line: 0 its hardware ID, 1 on its compatible IDs; -1 not on it.
int PlaceOn(const DriverLine& line, const std::u16string& id) {
    const std::u16string wanted = Lower(id);
    if (!line.hardwareId.empty() && Lower(line.hardwareId) == wanted) {
        return 0;
    }
    for (size_t i = 0; i < line.compatibleIds.size(); ++i) {
        if (Lower(line.compatibleIds[i]) == wanted) {
            return static_cast<int>(i) + 1;
        }
    }
    return -1;
}

bool SameIds(const std::vector<std::u16string>& a, const std::vector<std::u16string>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](const std::u16string& x, const std::u16string& y) {
                                                  return Lower(x) == Lower(y);
                                              });
}

} // namespace

PackageFacts ReadPackageFacts(const InfSource& inf, Platform platform, const OsVersion& os) {
    PackageFacts facts;
    facts.platform = platform;
    std::vector<InfLine> lines;
    if (inf.Section(u"Manufacturer", &lines)) {
        for (const InfLine& line : lines) {
            // "%Mfg% = Models, NTamd64" or a bare "Models" (its key, or its one field).
            const std::u16string base = Field(line, 0);
            if (base.empty()) {
                continue;
            }
            const std::vector<std::u16string> decorations(line.fields.begin() + 1,
                                                          line.fields.end());
            const std::optional<std::u16string> section =
                ModelsSection(base, decorations, platform, os);
            if (!section) {
                facts.manufacturersWithout.push_back(line.key.empty() ? base : line.key);
                continue;
            }
            facts.modelsSections.push_back(*section);
            std::vector<InfLine> models;
            if (!inf.Section(*section, &models)) {
                continue;
            }
            for (const InfLine& model : models) {
                Model entry{*section, model.key, Field(model, 0), {}, Field(model, 1), {}};
                for (size_t i = 1; i < model.fields.size(); ++i) {
                    if (!model.fields[i].empty()) {
                        entry.ids.push_back(model.fields[i]);
                        if (i > 1) {
                            entry.compatibleIds.push_back(model.fields[i]);
                        }
                    }
                }
                facts.models.push_back(std::move(entry));
            }
        }
    }
    if (inf.Section(u"Version", &lines)) {
        for (const std::u16string& key :
             {u"CatalogFile." + PlatformDecoration(platform), std::u16string(u"CatalogFile.NT"),
              std::u16string(u"CatalogFile")}) {
            const InfLine* line = Keyed(lines, key);
            if (line != nullptr && !Field(*line, 0).empty()) {
                facts.catalogKey = key;
                facts.catalog = Field(*line, 0);
                break;
            }
        }
    }
    return facts;
}

std::vector<const Model*> ModelsFor(const PackageFacts& facts, const std::u16string& id) {
    std::vector<const Model*> found;
    const std::u16string wanted = Lower(id);
    for (const Model& model : facts.models) {
        if (std::any_of(model.ids.begin(), model.ids.end(),
                        [&](const std::u16string& entry) { return Lower(entry) == wanted; })) {
            found.push_back(&model);
        }
    }
    return found;
}

bool BestDriver(const std::vector<DriverLine>& drivers,
                const std::vector<std::u16string>& deviceIds, size_t* index,
                std::u16string* matchedId) {
    bool found = false;
    // (a compatible ID of the line, the device ID's place, the place on the line): lower is better.
    std::tuple<bool, size_t, int> best;
    for (size_t d = 0; d < drivers.size(); ++d) {
        for (size_t i = 0; i < deviceIds.size(); ++i) {
            const int place = PlaceOn(drivers[d], deviceIds[i]);
            if (place < 0) {
                continue;
            }
            const std::tuple<bool, size_t, int> rank{place > 0, i, place};
            if (!found || rank < best) {
                found = true;
                best = rank;
                *index = d;
                *matchedId =
                    place == 0 ? drivers[d].hardwareId : drivers[d].compatibleIds[place - 1];
            }
        }
    }
    return found;
}

bool IsModelLine(const PackageFacts& facts, const DriverLine& line) {
    return std::any_of(facts.models.begin(), facts.models.end(), [&](const Model& model) {
        return Lower(model.installSection) == Lower(line.installSection) &&
               Lower(model.hardwareId) == Lower(line.hardwareId) &&
               SameIds(model.compatibleIds, line.compatibleIds);
    });
}

std::u16string InstallSectionFor(const InfSource& inf, const std::u16string& base,
                                 Platform platform) {
    for (const std::u16string& name :
         {base + u"." + PlatformDecoration(platform), base + u".NT", base}) {
        if (Has(inf, name)) {
            return name;
        }
    }
    return {};
}

std::vector<PackageProblem> PackageProblems(const InfSource& inf, const PackageFacts& facts,
                                            const std::vector<std::u16string>& installSections,
                                            const FileProbe& exists) {
    std::vector<PackageProblem> problems;
    const std::u16string platform = PlatformDecoration(facts.platform);
    if (facts.catalog.empty()) {
        problems.push_back({ProblemKind::NoCatalogEntry, u"the INF names no catalog for " +
                                                             platform +
                                                             u": [Version] has no CatalogFile." +
                                                             platform + u" or CatalogFile entry"});
    } else if (!exists(facts.catalog)) {
        problems.push_back({ProblemKind::CatalogMissing, u"the catalog " + facts.catalog + u" (" +
                                                             facts.catalogKey +
                                                             u") is not beside the INF"});
    }
    std::vector<std::u16string> done;
    for (const std::u16string& base : installSections) {
        const std::u16string section = InstallSectionFor(inf, base, facts.platform);
        if (std::find(done.begin(), done.end(), Lower(base)) != done.end()) {
            continue;
        }
        done.push_back(Lower(base));
        if (section.empty()) {
            problems.push_back({ProblemKind::NoInstallSection,
                                u"the install section [" + base + u"] is not in the INF"});
            continue;
        }
        // The co-installers' files are copied with the driver's.
        for (const std::u16string& copying : {section, section + u".CoInstallers"}) {
            CheckCopyFiles(inf, facts.platform, copying, exists, &problems);
        }
    }
    return problems;
}

std::u16string NoDriverForId(const PackageFacts& facts, const std::u16string& id) {
    return u"the INF's models for " + PlatformDecoration(facts.platform) +
           u" name no driver for hardware ID \"" + id + u"\"";
}

} // namespace InfRules
