#include "InfStore.h"

#include "AsciiCase.h"
#include "DeviceServices.h"
#include "Numbers.h"

using namespace DevSvc;
using Text::Hex;

namespace {

std::u16string WithError(const std::u16string& text, uint32_t error) {
    return text + u" (error 0x" + Hex(error) + u")";
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
    return EqualIgnoringAsciiCase(a, b);
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

bool IsPublishedName(const std::u16string& name, const std::u16string& infName) {
    std::u16string lower = name;
    LowerAsciiInPlace(lower);
    if (SameName(name, infName)) {
        return true;
    }
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

bool FindStagedCopies(const std::vector<uint8_t>& bytes, const std::u16string& infName,
                      std::u16string* folder, std::vector<std::u16string>* names,
                      std::u16string* problem) {
    names->clear();
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
    // Only a published name of the same size can be the package's copy; only those are read.
    for (const FoundFile& file : files) {
        if (file.bytes != bytes.size() || !IsPublishedName(file.name, infName)) {
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
        // The same bytes published for another INF are another package. A copy whose original
        // name is its own has no record of another: Wine answers so for every copy, also one it
        // published as oem<N>.inf because the INF's own name was taken.
        std::u16string original;
        if (!GetOriginalInfName(path.c_str(), &original)) {
            *problem =
                WithError(u"the original name of the staged copy " + path + u" could not be read",
                          LastError());
            return false;
        }
        if (SameName(original, infName) || SameName(original, file.name)) {
            names->push_back(file.name);
        }
    }
    return true;
}
