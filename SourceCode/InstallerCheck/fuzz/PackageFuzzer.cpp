// The package rules through the pre-flight's verdict: a generated INF and a generated file tree
// beside it, given to `plan` for a present device, and to the simulator's own driver update.
//
// Input:
//   file count  1 byte (up to 7), then per file 1 byte: which path of kPaths is shipped
//   device ID   1 byte: which of kDeviceIds the present device has
//   INF         the rest, as bytes (UTF-8 or UTF-16 with its mark, as the parser reads them)
//
// Always: no crash and no read of freed or foreign memory (the sanitizers), every set and
// buffer released, nothing changed by plan, an exit code plan may give (0, 1 or 3), each line on
// standard error one of the report's "reason:" lines, and a verdict that never refuses a package
// that the simulator's driver update then installs (the update asks at least what plan asks) but
// for the catalog's members, which the simulator does not check.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "DeviceChanges.h"
#include "DeviceServices.h"
#include "DeviceSimulator.h"
#include "FuzzSupport.h"
#include "TracePlatformHost.h"

namespace {

namespace fs = std::filesystem;

// Beside the INF, in a disk's folder or its subfolder; names that differ only in case.
constexpr const char* kPaths[] = {
    "pkg.cat",       "PKG.CAT",         "pkg.sys",     "bin/pkg.sys",
    "BIN/Pkg.Sys",   "bin/x64/pkg.sys", "x64/pkg.sys", "lib/helper.sys",
    "bin/pkgco.dll", "pkgco.dll",       "helper.sys",  "lib/amd64/helper.sys",
    "bin",           "pkg64.cat",       "bin/x64",     "sub/pkg.sys",
};
const std::u16string kDeviceIds[] = {u"USB\\VID_1234&PID_5678", u"USB\\VID_1234&PID_5678&REV_0100",
                                     u"PCI\\VEN_1"};

std::vector<std::string> Lines(const std::u16string& text) {
    std::vector<std::string> lines;
    const std::string utf8 = TracePlatformHost::ToUtf8(text);
    size_t start = 0;
    for (size_t end; (end = utf8.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(utf8.substr(start, end - start));
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const fs::path folder = ScratchFolder() / "package";
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    const size_t files = in.Byte() % 8;
    for (size_t i = 0; i < files; ++i) {
        const fs::path file = folder / kPaths[in.Byte() % std::size(kPaths)];
        fs::create_directories(file.parent_path(), ec);
        if (!fs::exists(file, ec)) {
            WriteFile(file, "stand-in");
        }
    }
    const std::u16string id = kDeviceIds[in.Byte() % std::size(kDeviceIds)];
    const std::vector<uint8_t> inf = in.Rest();
    WriteFile(folder / "pkg.inf", std::string(inf.begin(), inf.end()));
    const std::u16string infPath = TracePlatformHost::FromUtf8((folder / "pkg.inf").string());

    DevSim::Machine machine;
    machine.devices = {DevSim::MakeDevice(u"ROOT\\PRESENT\\0000", {id}, true)};
    machine.driverStore = (ScratchFolder() / "store").string();
    fs::remove_all(machine.driverStore, ec);
    DevSim::UseMachine(machine);
    const CheckResult plan = RunCheck({u"plan", u"--", u"USB\\VID_1234&PID_5678", infPath});
    FUZZ_CHECK(DevSim::OpenSets() == 0);
    FUZZ_CHECK(DevSim::LiveBuffers() == 0);
    FUZZ_CHECK(DevSim::Current().devices == machine.devices);
    FUZZ_CHECK(DevSim::Calls(DevSim::Op::Update) + DevSim::Calls(DevSim::Op::Copy) == 0);
    FUZZ_CHECK(plan.exitCode == 0 || plan.exitCode == 1 || plan.exitCode == 3);
    // Each reason on standard error is a reason of the report, in the same order.
    std::vector<std::string> reported;
    for (const std::string& line : Lines(plan.out)) {
        if (line.starts_with("  reason: ")) {
            reported.push_back("InstallerCheck: " + line.substr(10));
        }
    }
    if (plan.exitCode != 3) {
        FUZZ_CHECK(Lines(plan.err) == reported);
        FUZZ_CHECK((plan.exitCode == 0) == reported.empty());
    }
    // The update asks of the package what plan asks, and more: what it installs, plan passes,
    // but for the catalog's members, which the simulator's update does not look at (the files
    // here are stand-ins, and so is the catalog).
    const bool installed =
        DevSvc::UpdateDriverForDevices(u"USB\\VID_1234&PID_5678", infPath.c_str(), 0, nullptr);
    const bool onlyMembers = std::all_of(reported.begin(), reported.end(), [](const auto& r) {
        return r.find(") is not a catalog: ") != std::string::npos ||
               r.find(" could not be read to look for it in the catalog ") != std::string::npos ||
               r.find(" is no member's") != std::string::npos;
    });
    FUZZ_CHECK(!installed || onlyMembers);
    return 0;
}
