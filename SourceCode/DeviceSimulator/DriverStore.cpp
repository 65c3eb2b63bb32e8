// The simulator's driver store: staging an INF as oem<N>.inf in DriverStoreFolder(), as
// SetupCopyOEMInf does, for DeviceChanges-host.cpp's UpdateDriverForDevices and CopyOEMInf, and
// finding and deleting a staged file for its uninstall calls.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "AsciiCase.h"
#include "DeviceServices.h"
#include "DeviceSimulator.h"
#include "SimulatedPackage.h"
#include "WinError.h"

namespace DevSim {

namespace {

namespace fs = std::filesystem;

namespace WinError = HostSupport::WinError;
using WinError::FromErrorCode;

bool ReadFile(const std::string& path, std::string* content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    *content = text.str();
    return !in.bad();
}

// N of a staged name "oem<N>.inf" (any case); nullopt for other names.
std::optional<uint32_t> OemNumber(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    if (lower.size() < 8 || lower.compare(0, 3, "oem") != 0 ||
        lower.compare(lower.size() - 4, 4, ".inf") != 0) {
        return std::nullopt;
    }
    std::string digits = lower.substr(3, lower.size() - 7);
    if (digits.size() > 9 || (digits.size() > 1 && digits[0] == '0') ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(std::stoul(digits));
}

// The package the store holds for the published INF `name`, or nullptr.
StagedPackage* PackageOf(const std::u16string& name) {
    for (StagedPackage& package : Current().packages) {
        if (EqualIgnoringAsciiCase(package.name, name)) {
            return &package;
        }
    }
    return nullptr;
}

} // namespace

namespace Hooks {

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// Puts the INF into the driver store as SetupCopyOEMInf does: an identical staged copy is
// reused, otherwise the INF becomes oem<N>.inf with the lowest free N. 0 or a Windows error.
uint32_t StageInf(const std::u16string& infPath, std::string* stagedPath, std::u16string* name) {
    std::string source = DevSim::ToUtf8(infPath);
    std::string content;
    if (infPath.empty() || !IsRegularFile(source)) {
        return DevSvc::ERROR_FILE_NOT_FOUND_CODE;
    }
    if (!ReadFile(source, &content)) {
        return WinError::ACCESS_DENIED;
    }
    std::error_code ec;
    fs::path store = fs::absolute(DevSim::DriverStoreFolder(), ec).lexically_normal();
    if (ec || (fs::create_directories(store, ec), ec)) {
        return FromErrorCode(ec);
    }
    // The package is the INF with its catalog: the same INF bytes with another catalog are
    // another package, staged under a name of its own.
    std::u16string catalog;
    std::vector<uint8_t> catalogBytes;
    DevSim::PackageCatalog(infPath, &catalog, &catalogBytes);
    const auto samePackage = [&](uint32_t n) {
        const std::string staged = "oem" + std::to_string(n) + ".inf";
        const StagedPackage* package = PackageOf(std::u16string(staged.begin(), staged.end()));
        return package != nullptr && EqualIgnoringAsciiCase(package->catalog, catalog) &&
               package->catalogBytes == catalogBytes;
    };
    std::set<uint32_t> used;
    std::optional<uint32_t> same;
    for (fs::directory_iterator it(store, ec), end; !ec && it != end; it.increment(ec)) {
        std::optional<uint32_t> n = OemNumber(it->path().filename().string());
        if (!n) {
            continue;
        }
        used.insert(*n);
        std::string staged;
        if ((!same || *n < *same) && ReadFile(it->path().string(), &staged) && staged == content &&
            samePackage(*n)) {
            same = *n;
        }
    }
    if (ec) {
        return FromErrorCode(ec);
    }
    uint32_t number = 0;
    if (same) {
        number = *same;
    } else {
        while (used.count(number) != 0) {
            ++number;
        }
    }
    std::string file = "oem" + std::to_string(number) + ".inf";
    fs::path target = store / file;
    if (!same) {
        // The INF's own name goes into the .pnf first, as Windows keeps it there.
        fs::path pnf = target;
        pnf.replace_extension(".pnf");
        std::ofstream record(pnf, std::ios::binary | std::ios::trunc);
        record << fs::path(source).filename().string() << "\n";
        record.close();
        fs::path temp = store / ("." + file + ".part");
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!record || !out || (fs::rename(temp, target, ec), ec)) {
            fs::remove(temp, ec);
            fs::remove(pnf, ec);
            return WinError::ACCESS_DENIED;
        }
        const std::u16string published(file.begin(), file.end());
        if (StagedPackage* stale = PackageOf(published)) {
            *stale = {published, catalog, catalogBytes};
        } else {
            Current().packages.push_back({published, catalog, catalogBytes});
        }
        StateChanged();
    }
    *stagedPath = target.string();
    *name = std::u16string(file.begin(), file.end());
    return 0;
}

uint32_t FindStaged(const std::string& path, std::u16string* name) {
    std::error_code ec;
    const fs::path file(path);
    const fs::path store = fs::absolute(DevSim::DriverStoreFolder(), ec);
    std::optional<std::u16string> text = DevSim::FromUtf8(file.filename().string());
    if (!IsRegularFile(path) || !text || !fs::equivalent(file.parent_path(), store, ec) || ec) {
        return DevSvc::ERROR_FILE_NOT_FOUND_CODE;
    }
    *name = *text;
    return 0;
}

// The .pnf goes with it, as SetupUninstallOEMInf deletes it.
uint32_t DeleteStaged(const std::u16string& name) {
    std::error_code ec;
    fs::path inf = fs::path(DevSim::DriverStoreFolder()) / DevSim::ToUtf8(name);
    fs::remove(inf, ec);
    if (ec) {
        return FromErrorCode(ec);
    }
    std::vector<StagedPackage>& packages = Current().packages;
    const size_t before = packages.size();
    std::erase_if(packages, [&name](const StagedPackage& package) {
        return EqualIgnoringAsciiCase(package.name, name);
    });
    if (packages.size() != before) {
        StateChanged();
    }
    fs::remove(inf.replace_extension(".pnf"), ec);
    return ec ? FromErrorCode(ec) : 0;
}

} // namespace Hooks

} // namespace DevSim
