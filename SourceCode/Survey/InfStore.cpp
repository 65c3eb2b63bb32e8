#include "InfStore.h"

#include "AsciiCase.h"
#include "DeviceServices.h"
#include "InfServices.h"
#include "Numbers.h"
#include "SystemInf.h"

#include <optional>

using namespace DevSvc;
using Text::Hex;

namespace {

std::u16string WithError(const std::u16string& text, uint32_t error) {
    return text + u" (error 0x" + Hex(error) + u")";
}

std::u16string FolderOf(const std::u16string& path) {
    const size_t cut = path.find_last_of(u"\\/");
    return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

// The catalog `name` that the system keeps with the package published as `copy`: in the
// package's driver-store folder; where that call has no answer under Wine, in the catalog root,
// where Wine's SetupCopyOEMInfW puts it. 0, or the error of the last place asked.
uint32_t StoredCatalog(const std::u16string& copy, const std::u16string& name,
                       std::vector<uint8_t>* bytes) {
    if (ReadStoredCatalog(copy.c_str(), name.c_str(), kMaxInfBytes, bytes)) {
        return 0;
    }
    uint32_t error = LastError();
    if (RunningUnderWine()) {
        std::vector<char16_t> root(MAX_PATH_CHARS);
        const uint32_t length = GetCatalogRootFolder(root.data(), MAX_PATH_CHARS);
        if (length == 0 || length >= MAX_PATH_CHARS) {
            return LastError();
        }
        const std::u16string path = std::u16string(root.data(), length) + u"\\" + name;
        error = ReadWholeFile(path.c_str(), kMaxInfBytes, bytes) ? 0 : LastError();
    }
    return error;
}

// The package's own catalog, to compare a staged copy's with: its name, its bytes, and when
// there is none, why.
struct PackageCatalog {
    std::u16string name;
    std::vector<uint8_t> bytes;
    std::u16string missing;
};

PackageCatalog ReadPackageCatalog(const std::u16string& infPath, bool insideInfFolder) {
    PackageCatalog catalog;
    catalog.name = CatalogNamed(infPath).name;
    if (catalog.name.empty()) {
        catalog.missing = u"the INF names no catalog for this platform";
        return catalog;
    }
    const uint32_t error = insideInfFolder ? StoredCatalog(infPath, catalog.name, &catalog.bytes)
                           : ReadWholeFile((FolderOf(infPath) + u"\\" + catalog.name).c_str(),
                                           kMaxInfBytes, &catalog.bytes)
                               ? 0
                               : LastError();
    if (error != 0) {
        catalog.missing =
            WithError(u"the package's catalog " + catalog.name + u" could not be read", error);
    }
    return catalog;
}

// Why the copy at `path` with the INF's bytes and a fitting original name is not the package's,
// or "" when its catalog is the package's.
std::u16string CatalogMismatch(const std::u16string& path, const PackageCatalog& catalog) {
    if (!catalog.missing.empty()) {
        return catalog.missing;
    }
    std::vector<uint8_t> stored;
    if (const uint32_t error = StoredCatalog(path, catalog.name, &stored)) {
        return WithError(u"the system keeps no catalog " + catalog.name + u" with it", error);
    }
    return stored == catalog.bytes
               ? std::u16string()
               : u"the catalog " + catalog.name + u" the system keeps with it is not the package's";
}

} // namespace

bool IsFullPath(const std::u16string& path) {
    const bool drive = path.size() >= 3 && LowerAscii(path[0]) >= u'a' &&
                       LowerAscii(path[0]) <= u'z' && path[1] == u':' &&
                       (path[2] == u'\\' || path[2] == u'/');
    const bool unc = path.size() >= 3 && path[0] == u'\\' && path[1] == u'\\';
    return drive || unc || (!path.empty() && path[0] == u'/');
}

std::u16string BaseName(const std::u16string& path) {
    const size_t cut = path.find_last_of(u"\\/");
    return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

bool SameName(const std::u16string& a, const std::u16string& b) {
    return SameFileName(a, b);
}

bool NamesCopy(const std::u16string& driverInf, const std::u16string& copy) {
    return !driverInf.empty() && SameName(BaseName(driverInf), copy);
}

InfRead ReadRequestedInf(const std::u16string& path, std::vector<uint8_t>* bytes,
                         std::u16string* problem) {
    const std::u16string quoted = u"the INF \"" + path + u"\"";
    if (path.find(u'\0') != std::u16string::npos || !IsFullPath(path)) {
        *problem = quoted + u" is not a full path";
        return InfRead::BadArgument;
    }
    const uint32_t attributes = FileAttributesOf(path.c_str());
    const uint32_t attributesError = attributes == INVALID_FILE_ATTRIBUTES_VALUE ? LastError() : 0;
    // Only "not found" is taken at its word: a pipe or a device can fail this query with another
    // error (Wine: a FIFO, ERROR_INVALID_PARAMETER), and the read then says what it is.
    if (attributesError == ERROR_FILE_NOT_FOUND_CODE ||
        attributesError == ERROR_PATH_NOT_FOUND_CODE) {
        *problem = WithError(quoted + u" does not exist", attributesError);
        return InfRead::BadArgument;
    }
    if (attributesError == 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) != 0) {
        *problem = quoted + u" is a folder";
        return InfRead::BadArgument;
    }
    if (!ReadWholeFile(path.c_str(), kMaxInfBytes, bytes)) {
        const uint32_t error = LastError();
        if (error == ERROR_FILE_TOO_LARGE_CODE) {
            *problem = quoted + u" is larger than 64 MiB";
            return InfRead::BadArgument;
        }
        if (error == ERROR_BAD_FILE_TYPE_CODE) {
            *problem = quoted + u" is not a plain file";
            return InfRead::BadArgument;
        }
        if (attributesError != 0) {
            *problem = WithError(quoted + u" does not exist", attributesError);
            return InfRead::BadArgument;
        }
        *problem = WithError(quoted + u" could not be read", error);
        return InfRead::Unreadable;
    }
    return InfRead::Ok;
}

bool IsOemName(const std::u16string& name) {
    std::u16string lower = name;
    LowerAsciiInPlace(lower);
    if (lower.size() < 8 || !lower.starts_with(u"oem") || !lower.ends_with(u".inf")) {
        return false;
    }
    for (size_t i = 3; i + 4 < lower.size(); ++i) {
        if (lower[i] < u'0' || lower[i] > u'9') {
            return false;
        }
    }
    return true;
}

bool IsPublishedName(const std::u16string& name) {
    return IsOemName(name) || RunningUnderWine();
}

bool FindStagedCopies(const std::vector<uint8_t>& bytes, const std::u16string& infPath,
                      std::u16string* folder, std::vector<std::u16string>* names,
                      std::vector<ForeignCopy>* foreign, std::u16string* problem) {
    names->clear();
    foreign->clear();
    std::vector<char16_t> buffer(MAX_PATH_CHARS);
    const uint32_t length = GetInfFolder(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        *problem = WithError(u"the system's INF folder could not be found", LastError());
        return false;
    }
    folder->assign(buffer.data(), length);
    std::vector<FoundFile> files;
    if (!ListFiles((*folder + u"\\*.inf").c_str(), &files)) {
        const uint32_t error = LastError();
        if (error == ERROR_FILE_NOT_FOUND_CODE || error == ERROR_PATH_NOT_FOUND_CODE) {
            return true; // nothing staged yet
        }
        *problem = WithError(u"the INF folder " + *folder + u" could not be searched", error);
        return false;
    }
    // An INF given inside the INF folder is a published copy itself: the name it was published
    // for stands for the INF's name.
    bool inside = false;
    std::u16string infName = BaseName(infPath);
    if (SameFile(FolderOf(infPath).c_str(), folder->c_str(), &inside) != 0) {
        inside = false;
    }
    // Once the removal has taken the copy given as the INF, it is gone, and so is its name.
    if (inside && !GetOriginalInfName(infPath.c_str(), &infName) &&
        LastError() != ERROR_FILE_NOT_FOUND_CODE) {
        *problem =
            WithError(u"the original name of " + infPath + u" could not be read", LastError());
        return false;
    }
    std::optional<PackageCatalog> catalog;
    // Only a published name of the same size can be the package's copy; only those are read.
    for (const FoundFile& file : files) {
        if (file.bytes != bytes.size() || !IsPublishedName(file.name)) {
            continue;
        }
        std::vector<uint8_t> staged;
        const std::u16string path = *folder + u"\\" + file.name;
        if (!ReadWholeFile(path.c_str(), kMaxInfBytes, &staged)) {
            *problem = WithError(u"the staged copy " + path + u" could not be read", LastError());
            return false;
        }
        if (staged != bytes) {
            continue;
        }
        bool itself = false;
        if (inside && SameFile(path.c_str(), infPath.c_str(), &itself) == 0 && itself) {
            names->push_back(file.name);
            continue;
        }
        // The same bytes published for another INF are another package. An oem<N>.inf whose
        // original name is its own has no record of another: Wine answers so for every copy,
        // also one it published as oem<N>.inf because the INF's own name was taken. Any other
        // name is Wine's publication of the INF of that name.
        std::u16string original;
        if (!GetOriginalInfName(path.c_str(), &original)) {
            *problem =
                WithError(u"the original name of the staged copy " + path + u" could not be read",
                          LastError());
            return false;
        }
        if (!SameName(original, infName) &&
            !(IsOemName(file.name) && SameName(original, file.name))) {
            foreign->push_back({file.name, u"published for " + original});
            continue;
        }
        // The same INF with another catalog is another package (another version, say).
        if (!catalog) {
            catalog = ReadPackageCatalog(infPath, inside);
        }
        std::u16string mismatch = CatalogMismatch(path, *catalog);
        if (!mismatch.empty()) {
            foreign->push_back({file.name, std::move(mismatch)});
            continue;
        }
        names->push_back(file.name);
    }
    return true;
}
