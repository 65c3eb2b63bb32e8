// The device services' reads that judge whose package a staged copy is, on the host: the
// simulator's driver store keeps each package's catalog (DevSim::Machine::packages), the
// machine says whether it stands for Wine, and file names compare as NTFS compares them.
#include <errno.h>
#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AsciiCase.h"
#include "DeviceServices.h"
#include "DeviceSimulator.h"
#include "SetupCalls-host.h"

namespace DevSvc {

using namespace HostCalls;

namespace {

constexpr uint32_t kErrorPathNotFound = 3;

// One UTF-16 unit upper-cased as NTFS's table does it: letters beyond ASCII too, one unit for
// one unit (a surrogate stays as it is).
char16_t Upper(char16_t unit) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (unit < 0x80 || utf8 == static_cast<locale_t>(0) || (unit >= 0xD800 && unit <= 0xDFFF)) {
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
    }
    const wint_t upper = towupper_l(static_cast<wint_t>(unit), utf8);
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

} // namespace

bool ReadStoredCatalog(const char16_t* publishedInf, const char16_t* catalogName, uint64_t maxBytes,
                       std::vector<uint8_t>* content) {
    DevSim::Hooks::EnsureLoaded();
    std::u16string name;
    if (const uint32_t error = DevSim::Hooks::FindStaged(HostPath(publishedInf), &name)) {
        return Fail(error);
    }
    for (const DevSim::StagedPackage& package : DevSim::Current().packages) {
        if (!EqualIgnoringAsciiCase(package.name, name)) {
            continue;
        }
        if (package.catalog.empty() || !SameFileName(package.catalog, Text(catalogName))) {
            break;
        }
        if (package.catalogBytes.size() > maxBytes) {
            return Fail(ERROR_FILE_TOO_LARGE_CODE);
        }
        *content = package.catalogBytes;
        return Succeed();
    }
    return Fail(ERROR_FILE_NOT_FOUND_CODE);
}

// The simulator keeps no catalog root: the driver store answers for every package.
uint32_t GetCatalogRootFolder(char16_t* /*buffer*/, uint32_t /*bufferChars*/) {
    SetLastError(kErrorPathNotFound);
    return 0;
}

bool RunningUnderWine() {
    DevSim::Hooks::EnsureLoaded();
    return DevSim::Current().wine;
}

bool SameFileName(const std::u16string& a, const std::u16string& b) {
    return std::ranges::equal(a, b, {}, Upper, Upper);
}

uint32_t SameFile(const char16_t* a, const char16_t* b, bool* same) {
    struct stat first = {};
    struct stat second = {};
    if (stat(HostPath(a).c_str(), &first) != 0 || stat(HostPath(b).c_str(), &second) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : 5;
    }
    *same = first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    return 0;
}

} // namespace DevSvc
