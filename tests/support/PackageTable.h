// The driver packages the host tests give both the simulator and InstallerCheck, with what
// each gets: the simulator's driver update for a present device with the hardware ID
// USB\VID_1234&PID_5678, and the reasons plan gives for that device (ROOT\PRESENT\0000) on the
// simulator's default platform, NTamd64. Each bad package breaks one thing of the complete one.
// A package's pkg.cat is a real catalog (tests/signing/catalog.py, SHA-256 members) of the INF
// and the other files shipped, written with them and signed by the test PKI's publisher, unless
// the package says otherwise. The
// simulator's update does not look at catalogs: it installs the packages whose catalog is bad.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "SigningTools.h"

namespace PackageTable {

enum class CatalogKind {
    Real,        // a catalog of the INF and the other files shipped
    StandIn,     // a text file in its place
    FileChanged, // a real one, after which bin/pkg.sys changes
};

struct Package {
    const char* name;
    std::string inf;
    std::vector<const char*> files; // shipped beside the INF, as small stand-ins
    uint32_t updateError;           // UpdateDriverForDevices' error; 0: it installs
    std::string reasons;            // plan's standard error
    CatalogKind catalog = CatalogKind::Real;
};

// The install section, its files and where they come from.
inline const std::string kInstall = "[PkgInstall.NT]\nCopyFiles = PkgCopy\n\n"
                                    "[PkgCopy]\npkg.sys\n\n"
                                    "[SourceDisksNames]\n1 = %Disk%,,,\\bin\n\n"
                                    "[SourceDisksFiles]\npkg.sys = 1\n\n";

inline std::string Inf(const std::string& version, const std::string& manufacturer,
                       const std::string& models, const std::string& install = kInstall) {
    return "[Version]\n"
           "Signature = \"$Windows NT$\"\n"
           "Class = USBDevice\n"
           "ClassGuid = {88BAE032-5A81-49f0-BC3D-A4FF138216D6}\n"
           "Provider = %Vendor%\n" +
           version +
           "DriverVer = 03/01/2024,1.0.0.0\n\n"
           "[Manufacturer]\n%Vendor% = Models, " +
           manufacturer + "\n\n" + models + install +
           "[Strings]\nVendor = \"Example Devices\"\nDesc = \"Example USB Sample Device\"\n"
           "Disk = \"Example disk\"\n";
}

inline const std::string kModels = "[Models.NTx86]\n%Desc% = PkgInstall, USB\\VID_1234&PID_5678\n"
                                   "%Desc% = PkgInstall, USB\\VID_1234&PID_5678&REV_0100\n\n"
                                   "[Models.NTamd64]\n%Desc% = PkgInstall, USB\\VID_1234&PID_5678\n"
                                   "%Desc% = PkgInstall, USB\\VID_1234&PID_5678&REV_0100\n\n";
inline const std::string kCatalog = "CatalogFile = pkg.cat\n";
// pkg.sys in the disk's subfolder x64: bin\x64\pkg.sys.
inline const std::string kSubfolder = "[PkgInstall.NT]\nCopyFiles = PkgCopy\n\n"
                                      "[PkgCopy]\npkg.sys\n\n"
                                      "[SourceDisksNames]\n1 = %Disk%,,,\\bin\n\n"
                                      "[SourceDisksFiles]\npkg.sys = 1,x64\n\n";

// The SHA-256 hash of bin/pkg.sys once changed after cataloguing.
inline constexpr const char* kChangedHash =
    "2526F13A1ADAA3A753EB49C42C1D84616F7A3AA3396EEE7508F51A758DF391CF";
inline constexpr const char* kChangedText = "changed after cataloguing\n";

inline const std::vector<Package>& Packages() {
    static const std::vector<Package> packages = {
        {"complete", Inf(kCatalog, "NTx86, NTamd64", kModels), {"pkg.cat", "bin/pkg.sys"}, 0, ""},
        {"models for NTx86 only",
         Inf(kCatalog, "NTx86", "[Models.NTx86]\n%Desc% = PkgInstall, USB\\VID_1234&PID_5678\n\n"),
         {"pkg.cat", "bin/pkg.sys"},
         259,
         "InstallerCheck: the INF offers no driver for ROOT\\PRESENT\\0000 on NTamd64\n"},
        {"models without the ID",
         Inf(kCatalog, "NTamd64",
             "[Models.NTamd64]\n%Desc% = PkgInstall, USB\\VID_9999&PID_0001\n\n"),
         {"pkg.cat", "bin/pkg.sys"},
         259,
         "InstallerCheck: the INF offers no driver for ROOT\\PRESENT\\0000 on NTamd64\n"},
        {"no CatalogFile",
         Inf("", "NTx86, NTamd64", kModels),
         {"pkg.cat", "bin/pkg.sys"},
         0xE000022F,
         "InstallerCheck: the INF names no catalog for NTamd64: [Version] has no "
         "CatalogFile.NTamd64 or CatalogFile entry\n"},
        {"catalog absent",
         Inf("CatalogFile.NTamd64 = pkg64.cat\n" + kCatalog, "NTx86, NTamd64", kModels),
         {"pkg.cat", "bin/pkg.sys"},
         0xE000022F,
         "InstallerCheck: the catalog pkg64.cat (CatalogFile.NTamd64) is not beside the INF\n"},
        {"copied file missing",
         Inf(kCatalog, "NTx86, NTamd64", kModels),
         {"pkg.cat"},
         2,
         "InstallerCheck: the file bin\\pkg.sys that section [PkgCopy] copies is not in the "
         "package\n"},
        {"file in the disk's subfolder",
         Inf(kCatalog, "NTx86, NTamd64", kModels, kSubfolder),
         {"pkg.cat", "bin/x64/pkg.sys"},
         0,
         ""},
        {"file beside the disk's subfolder",
         Inf(kCatalog, "NTx86, NTamd64", kModels, kSubfolder),
         {"pkg.cat", "bin/pkg.sys"},
         2,
         "InstallerCheck: the file bin\\x64\\pkg.sys that section [PkgCopy] copies is not in the "
         "package\n"},
        // More disks than files: reading the disks' section grows the lines read before.
        {"two source lines",
         Inf(kCatalog, "NTx86, NTamd64", kModels,
             "[PkgInstall.NT]\nCopyFiles = PkgCopy\n\n[PkgCopy]\npkg.sys\nhelper.sys\n\n"
             "[SourceDisksNames]\n1 = %Disk%,,,\\bin\n2 = %Disk%,,,\\lib\\,\n3 = "
             "%Disk%,,,\\spare\n\n"
             "[SourceDisksFiles]\npkg.sys = 1,x64\nhelper.sys = 2,amd64\n\n"),
         {"pkg.cat", "bin/x64/pkg.sys"},
         2,
         "InstallerCheck: the file lib\\amd64\\helper.sys that section [PkgCopy] copies is not in "
         "the package\n"},
        {"compatible-ID-only line",
         Inf(kCatalog, "NTx86, NTamd64",
             "[Models.NTx86]\n%Desc% = PkgInstall,, USB\\VID_1234&PID_5678\n\n"
             "[Models.NTamd64]\n%Desc% = PkgInstall,, USB\\VID_1234&PID_5678\n\n"),
         {"pkg.cat", "bin/pkg.sys"},
         0,
         ""},
        {"names differing in letter case",
         Inf("CatalogFile = PKG.Cat\n", "NTx86, NTamd64", kModels,
             "[PkgInstall.NT]\nCopyFiles = PkgCopy\n\n[PkgCopy]\nPkg.SYS\n\n"
             "[SourceDisksNames]\n1 = %Disk%,,,\\BIN\n\n[SourceDisksFiles]\nPkg.SYS = 1\n\n"),
         {"pkg.cat", "bin/pkg.sys"},
         0,
         ""},
        {"co-installer's file missing",
         Inf(kCatalog, "NTx86, NTamd64", kModels,
             kInstall + "[PkgInstall.NT.CoInstallers]\nCopyFiles = @pkgco.dll\n\n"
                        "[SourceDisksFiles.amd64]\npkg.sys = 1\npkgco.dll = 1\n\n"
                        "[SourceDisksFiles.x86]\npkg.sys = 1\npkgco.dll = 1\n\n"),
         {"pkg.cat", "bin/pkg.sys"},
         2,
         "InstallerCheck: the file bin\\pkgco.dll that section [PkgInstall.NT.CoInstallers] copies "
         "is not in the package\n"},
        {"unknown disk ID",
         Inf(kCatalog, "NTx86, NTamd64", kModels,
             "[PkgInstall.NT]\nCopyFiles = PkgCopy\n\n[PkgCopy]\npkg.sys\n\n"
             "[SourceDisksNames]\n1 = %Disk%,,,\\bin\n\n[SourceDisksFiles]\npkg.sys = 7\n\n"),
         {"pkg.cat", "bin/pkg.sys", "pkg.sys"},
         2,
         "InstallerCheck: the file pkg.sys that section [PkgCopy] copies is on disk \"7\", which "
         "[SourceDisksNames] does not name\n"},
        {"copied file list missing",
         Inf(kCatalog, "NTx86, NTamd64", kModels,
             "[PkgInstall.NT]\nCopyFiles = PkgCopy, NoSuchList\n\n[PkgCopy]\npkg.sys\n\n"
             "[SourceDisksNames]\n1 = %Disk%,,,\\bin\n\n[SourceDisksFiles]\npkg.sys = 1\n\n"),
         {"pkg.cat", "bin/pkg.sys"},
         2,
         "InstallerCheck: the file list [NoSuchList] that section [PkgInstall.NT] copies is not in "
         "the INF\n"},
        {"copied file changed after cataloguing",
         Inf(kCatalog, "NTx86, NTamd64", kModels),
         {"pkg.cat", "bin/pkg.sys"},
         0,
         "InstallerCheck: the file bin\\pkg.sys is not in the catalog pkg.cat (CatalogFile): its "
         "SHA256 hash " +
             std::string(kChangedHash) + " is no member's\n",
         CatalogKind::FileChanged},
        {"catalog that is not one",
         Inf(kCatalog, "NTx86, NTamd64", kModels),
         {"pkg.cat", "bin/pkg.sys"},
         0,
         "InstallerCheck: the catalog pkg.cat (CatalogFile) is not a catalog: it is not a PKCS#7 "
         "message\n",
         CatalogKind::StandIn},
        {"does not parse",
         "[Version]\nSignature = \"$Windows NT$\"\n\n[Manufacturer\n%Vendor% = Models\n",
         {"pkg.cat", "bin/pkg.sys"},
         0xE0000001,
         "InstallerCheck: the INF does not open as a Windows NT INF: error 0xe0000001 at line 4\n"},
    };
    return packages;
}

// Writes the package into `folder` as pkg.inf and its files; the INF's path.
inline std::filesystem::path Write(const Package& package, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "pkg.inf", std::ios::binary) << package.inf;
    std::vector<std::string> catalogued = {(folder / "pkg.inf").string()};
    bool hasCatalog = false;
    for (const char* file : package.files) {
        std::filesystem::create_directories((folder / file).parent_path());
        std::ofstream(folder / file, std::ios::binary) << "stand-in for " << file << "\n";
        if (std::string(file) == "pkg.cat") {
            hasCatalog = true;
        } else {
            catalogued.push_back((folder / file).string());
        }
    }
    if (hasCatalog && package.catalog != CatalogKind::StandIn) {
        // A package's files are the same wherever it is written, and a catalog holds only their
        // names and hashes: catalog.py writes each package's once per process.
        static std::map<std::string, std::string> written;
        const std::filesystem::path catalog = folder / "pkg.cat";
        const auto known = written.find(package.name);
        if (known != written.end()) {
            std::ofstream(catalog, std::ios::binary) << known->second;
        } else if (SigningTools::WriteCatalog(catalog.string(), catalogued) &&
                   SigningTools::SignCatalog(catalog.string())) {
            std::ifstream in(catalog, std::ios::binary);
            written[package.name].assign(std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>());
        } else {
            std::fprintf(stderr, "PackageTable: catalog.py or osslsigncode could not make %s\n",
                         catalog.string().c_str());
        }
    }
    if (package.catalog == CatalogKind::FileChanged) {
        std::ofstream(folder / "bin/pkg.sys", std::ios::binary | std::ios::app) << kChangedText;
    }
    return folder / "pkg.inf";
}

} // namespace PackageTable
