// The host device services against the simulated machine, and the simulator's state file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "DeviceChanges.h"
#include "DeviceSimulator.h"
#include "InfParser.h"
#include "InfServices.h"
#include "PackageTable.h"
#include "TestIds.h"

namespace fs = std::filesystem;
using namespace DevSvc;
using DevSim::Device;
using DevSim::Fault;
using DevSim::Machine;
using DevSim::MakeDevice;
using DevSim::Op;

namespace {

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::u16string U16(const fs::path& path) {
    return *DevSim::FromUtf8(path.string());
}

std::vector<std::string> FolderNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

DevInfoData Element(uint32_t devInst = 0) {
    DevInfoData element{};
    element.cbSize = sizeof(DevInfoData);
    element.DevInst = devInst;
    return element;
}

// DevInst of every member, in enumeration order.
std::vector<uint32_t> Members(DevInfoSet set) {
    std::vector<uint32_t> members;
    DevInfoData element = Element();
    for (uint32_t i = 0; EnumDeviceInfo(set, i, &element); ++i) {
        members.push_back(element.DevInst);
    }
    EXPECT_EQ(LastError(), ERROR_NO_MORE_ITEMS_CODE);
    return members;
}

class DeviceSim : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/devsim-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override {
        unsetenv("INSTALLER_MACHINE");
        DevSim::UseMachine(Machine{});
        fs::remove_all(dir);
    }
    fs::path Write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return dir / name;
    }
    // The table's complete package, its INF named `name` and ending in `tail`.
    fs::path Package(const std::string& name, const std::string& tail = "") {
        PackageTable::Write(PackageTable::Packages().front(), dir);
        fs::rename(dir / "pkg.inf", dir / name);
        std::ofstream(dir / name, std::ios::app) << tail;
        return dir / name;
    }
    void Use(std::vector<Device> devices, std::string stateFile = {}) {
        Machine machine;
        machine.devices = std::move(devices);
        machine.driverStore = (dir / "store").string();
        DevSim::UseMachine(std::move(machine), std::move(stateFile));
    }
    fs::path dir;
};

TEST_F(DeviceSim, SetsHoldPresentOrAllDevicesInMachineOrder) {
    Use({MakeDevice(u"A", {kIdFull}, true), MakeDevice(u"B", {kIdFull}, false),
         MakeDevice(u"C", {u"PCI\\X"}, true)});
    DevInfoSet present = GetClassDevs(DIGCF_PRESENT | DIGCF_ALLCLASSES);
    DevInfoSet all = GetClassDevs(DIGCF_ALLCLASSES);
    EXPECT_EQ(Members(present), (std::vector<uint32_t>{1, 3}));
    EXPECT_EQ(Members(all), (std::vector<uint32_t>{1, 2, 3}));

    DevInfoData wrongSize = Element();
    wrongSize.cbSize = 4;
    EXPECT_FALSE(EnumDeviceInfo(all, 0, &wrongSize));
    EXPECT_EQ(LastError(), 1784u);

    EXPECT_EQ(DevSim::OpenSets(), 2);
    EXPECT_TRUE(DestroyDeviceInfoList(present));
    EXPECT_TRUE(DestroyDeviceInfoList(all));
    EXPECT_EQ(DevSim::OpenSets(), 0);
    DevInfoData element = Element();
    EXPECT_FALSE(DestroyDeviceInfoList(all));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE_CODE);
    EXPECT_FALSE(EnumDeviceInfo(all, 0, &element));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE_CODE);
}

TEST_F(DeviceSim, PropertyReadAsksForTheSizeThenSucceeds) {
    std::vector<std::u16string> longIds(12, u"USB\\VID_1234&PID_5678&MI_00");
    Device big = MakeDevice(u"BIG", {}, true, std::nullopt);
    big.hardwareIds = DevSim::MultiSz({longIds[0], longIds[1], longIds[2], longIds[3], longIds[4],
                                       longIds[5], longIds[6], longIds[7]});
    Use({big, MakeDevice(u"GONE", {kIdFull}, false)});
    const std::vector<uint8_t>& ids = *big.hardwareIds;
    ASSERT_GT(ids.size(), 260u);

    DevInfoSet set = GetClassDevs(DIGCF_PRESENT | DIGCF_ALLCLASSES);
    DevInfoData element = Element();
    ASSERT_TRUE(EnumDeviceInfo(set, 0, &element));
    std::vector<uint8_t> buffer(260, 0xAA);
    uint32_t required = 0;
    EXPECT_FALSE(
        GetDeviceRegistryProperty(set, &element, SPDRP_HARDWAREID, buffer.data(), 260, &required));
    EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER_CODE);
    EXPECT_EQ(required, ids.size());
    EXPECT_EQ(buffer, std::vector<uint8_t>(260, 0xAA));

    buffer.assign(required, 0);
    EXPECT_FALSE(GetDeviceRegistryProperty(set, &element, SPDRP_HARDWAREID, buffer.data(),
                                           required - 1, nullptr));
    EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER_CODE);
    EXPECT_TRUE(GetDeviceRegistryProperty(set, &element, SPDRP_HARDWAREID, buffer.data(), required,
                                          &required));
    EXPECT_EQ(buffer, ids);
    EXPECT_EQ(LastError(), 0u);

    EXPECT_FALSE(GetDeviceRegistryProperty(set, &element, SPDRP_CONFIGFLAGS, buffer.data(),
                                           required, &required));
    EXPECT_EQ(LastError(), ERROR_INVALID_DATA_CODE);
    EXPECT_FALSE(GetDeviceRegistryProperty(set, &element, 5, buffer.data(), required, nullptr));
    EXPECT_EQ(LastError(), 0xE0000209u);
    // The absent device is not a member of a present-only set.
    DevInfoData outsider = Element(2);
    EXPECT_FALSE(GetDeviceRegistryProperty(set, &outsider, SPDRP_HARDWAREID, buffer.data(),
                                           required, nullptr));
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER_CODE);
    DestroyDeviceInfoList(set);
}

TEST_F(DeviceSim, ConfigFlagsChangeIsSavedByReplacingTheStateFile) {
    fs::path file = dir / "Machine.ini";
    Use({MakeDevice(u"A", {kIdFull}, false, 0u)}, file.string());
    DevInfoSet set = GetClassDevs(DIGCF_ALLCLASSES);
    DevInfoData element = Element();
    ASSERT_TRUE(EnumDeviceInfo(set, 0, &element));
    std::vector<uint8_t> flags = DevSim::FlagBytes(CONFIGFLAG_REINSTALL);
    EXPECT_TRUE(SetDeviceRegistryProperty(set, &element, SPDRP_CONFIGFLAGS, flags.data(), 4));
    EXPECT_FALSE(SetDeviceRegistryProperty(set, &element, 7, flags.data(), 4));
    EXPECT_EQ(LastError(), 0xE0000209u);
    DestroyDeviceInfoList(set);

    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"Machine.ini"});
    Machine saved;
    std::string error;
    ASSERT_TRUE(DevSim::LoadMachineFile(file.string(), &saved, &error)) << error;
    EXPECT_EQ(saved.devices.at(0).configFlags, flags);
    EXPECT_TRUE(saved == DevSim::Current());

    // A save that cannot replace its target leaves the folder as it was.
    fs::create_directories(dir / "busy" / "inner");
    EXPECT_FALSE(DevSim::SaveMachineFile((dir / "busy").string(), saved));
    EXPECT_EQ(FolderNames(dir), (std::vector<std::string>{"Machine.ini", "busy"}));
}

TEST_F(DeviceSim, NodeStatusOnlyForPresentDevices) {
    Device running = MakeDevice(u"A", {kIdFull}, true);
    running.nodeStatus = 0x0180200A;
    running.problem = 28;
    Use({running, MakeDevice(u"B", {kIdFull}, false)});
    uint32_t status = 0xDEAD;
    uint32_t problem = 0xDEAD;
    EXPECT_EQ(GetDevNodeStatus(&status, &problem, 1, 0), CR_SUCCESS);
    EXPECT_EQ(status, 0x0180200Au);
    EXPECT_EQ(problem, 28u);
    status = problem = 0xDEAD;
    EXPECT_EQ(GetDevNodeStatus(&status, &problem, 2, 0), CR_NO_SUCH_DEVINST);
    EXPECT_EQ(GetDevNodeStatus(&status, &problem, 9, 0), CR_NO_SUCH_DEVINST);
    EXPECT_EQ(status, 0xDEADu);
    EXPECT_EQ(problem, 0xDEADu);
}

TEST_F(DeviceSim, UpdateInstallsOnEveryPresentDeviceWithTheWholeIdIgnoringCase) {
    Use({MakeDevice(u"FULL", {kIdFull, kIdShort}, true),
         MakeDevice(u"LOWER", {u"usb\\vid_1234&pid_5678"}, true),
         MakeDevice(u"ABSENT", {kIdShort}, false),
         MakeDevice(u"LONGER", {kIdShort + u"&MI_00"}, true),
         MakeDevice(u"SHORTER", {u"USB\\VID_1234"}, true)},
        (dir / "Machine.ini").string());
    std::u16string infPath = U16(Package("sample.inf"));
    bool reboot = true;
    EXPECT_TRUE(UpdateDriverForDevices(u"Usb\\Vid_1234&Pid_5678", infPath.c_str(),
                                       INSTALLFLAG_FORCE, &reboot));
    EXPECT_FALSE(reboot);
    std::vector<std::u16string> drivers;
    for (const Device& device : DevSim::Current().devices) {
        drivers.push_back(device.driver);
    }
    EXPECT_EQ(drivers, (std::vector<std::u16string>{u"oem0.inf", u"oem0.inf", u"", u"", u""}));
    Machine saved;
    ASSERT_TRUE(DevSim::LoadMachineFile((dir / "Machine.ini").string(), &saved, nullptr));
    EXPECT_EQ(saved.devices.at(1).driver, u"oem0.inf");

    EXPECT_FALSE(UpdateDriverForDevices(u"USB\\VID_1234&PID_567", infPath.c_str(), 0, nullptr));
    EXPECT_EQ(LastError(), ERROR_NO_SUCH_DEVINST_CODE);
    std::u16string missing = U16(dir / "none.inf");
    EXPECT_FALSE(UpdateDriverForDevices(kIdShort.c_str(), missing.c_str(), 0, nullptr));
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_FALSE(UpdateDriverForDevices(u"", infPath.c_str(), 0, nullptr));
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER_CODE);
}

// The driver update reads the package as Windows does: the models for the machine's platform,
// the catalog and the copied files; it installs only what the INF offers the device. The
// staging alone asks the same of the catalog and the files, but not for a model.
TEST_F(DeviceSim, UpdateAndStagingReadThePackageForTheMachinesPlatform) {
    for (const PackageTable::Package& package : PackageTable::Packages()) {
        SCOPED_TRACE(package.name);
        Use({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true)});
        const std::u16string inf = U16(PackageTable::Write(package, dir / package.name));
        const bool installed = UpdateDriverForDevices(kIdShort.c_str(), inf.c_str(), 0, nullptr);
        EXPECT_EQ(installed ? 0u : LastError(), package.updateError);
        // Packages with the same INF bytes share a published name.
        EXPECT_EQ(DevSim::Current().devices[0].driver.starts_with(u"oem"), installed);
        char16_t dest[512];
        const bool staged = CopyOEMInf(inf.c_str(), dest, 512, nullptr);
        EXPECT_EQ(staged ? 0u : LastError(), package.updateError == 259 ? 0 : package.updateError);
    }
    Machine x86;
    ASSERT_TRUE(DevSim::ParseMachine("[machine]\nplatform = x86\n", &x86, nullptr));
    x86.devices = {MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true)};
    x86.driverStore = (dir / "store").string();
    DevSim::UseMachine(x86);
    const std::u16string inf = U16(dir / "models for NTx86 only" / "pkg.inf");
    EXPECT_TRUE(UpdateDriverForDevices(kIdShort.c_str(), inf.c_str(), 0, nullptr));
    std::string error;
    EXPECT_FALSE(DevSim::ParseMachine("[machine]\nplatform = ia64\n", &x86, &error));
    EXPECT_EQ(error, "line 2: platform must be x86, amd64 or arm64");
}

// The driver list reports each models line as Windows' driver details do: the line's first ID,
// empty when its place is, and its compatible IDs; every line that names one of the device's
// IDs in any place is listed, in INF order. The pick then judges by the whole line: a line's
// hardware ID beats its compatible IDs, an earlier device ID a later one.
TEST_F(DeviceSim, DriverListReportsWhatWindowsReportsAndThePickJudgesTheWholeLine) {
    const fs::path inf = dir / "lines.inf";
    std::ofstream(inf, std::ios::binary)
        << "[Version]\nSignature = \"$Windows NT$\"\n\n[Manufacturer]\nM = Models, NTamd64\n\n"
           "[Models.NTamd64]\nCompat only = CompatInstall,, USB\\VID_1234&PID_5678&REV_0100\n"
           "By short ID = ShortInstall, USB\\VID_1234&PID_5678, PCI\\OTHER,, USB\\X\n"
           "Other = OtherInstall, PCI\\VEN_9999\n";
    Use({MakeDevice(u"A", {kIdFull, kIdShort}, true)});
    DevInfoSet set = GetClassDevs(DIGCF_ALLCLASSES);
    DevInfoData element{};
    element.cbSize = sizeof(element);
    ASSERT_TRUE(EnumDeviceInfo(set, 0, &element));
    std::vector<InfRules::DriverLine> drivers;
    std::vector<std::u16string> ids;
    ASSERT_EQ(ListDrivers(set, &element, U16(inf).c_str(), &drivers, &ids), 0u);
    EXPECT_EQ(ids, (std::vector<std::u16string>{kIdFull, kIdShort}));
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(std::tie(drivers[0].description, drivers[0].installSection, drivers[0].hardwareId,
                       drivers[0].compatibleIds),
              std::make_tuple(std::u16string(u"Compat only"), std::u16string(u"CompatInstall"),
                              std::u16string(), std::vector<std::u16string>{kIdFull}));
    EXPECT_EQ(std::tie(drivers[1].installSection, drivers[1].hardwareId, drivers[1].compatibleIds),
              std::make_tuple(std::u16string(u"ShortInstall"), kIdShort,
                              std::vector<std::u16string>{u"PCI\\OTHER", u"USB\\X"}));
    size_t best = 9;
    std::u16string matched;
    ASSERT_TRUE(InfRules::BestDriver(drivers, ids, &best, &matched));
    EXPECT_EQ(std::tie(best, matched), std::make_tuple(size_t{1}, kIdShort));
    ASSERT_TRUE(InfRules::BestDriver({drivers[0]}, ids, &best, &matched));
    EXPECT_EQ(std::tie(best, matched), std::make_tuple(size_t{0}, kIdFull));
    // Among compatible IDs, the earlier device ID wins; among hardware IDs too.
    const InfRules::DriverLine byShort{u"", u"S", u"", {kIdShort}};
    ASSERT_TRUE(InfRules::BestDriver({byShort, drivers[0]}, ids, &best, &matched));
    EXPECT_EQ(best, 1u);
    const InfRules::DriverLine fullFirst{u"", u"F", kIdFull, {}};
    ASSERT_TRUE(InfRules::BestDriver({drivers[1], fullFirst}, ids, &best, &matched));
    EXPECT_EQ(std::tie(best, matched), std::make_tuple(size_t{1}, kIdFull));
    EXPECT_FALSE(InfRules::BestDriver(drivers, {u"PCI\\NONE"}, &best, &matched));
    EXPECT_FALSE(InfRules::BestDriver({}, ids, &best, &matched));
    EXPECT_TRUE(DestroyDeviceInfoList(set));
}

TEST_F(DeviceSim, CopyReusesIdenticalInfsAndNumbersNewOnes) {
    Use({});
    std::u16string a = U16(Package("a.inf", "; first"));
    std::u16string sameAsA = U16(Package("again.inf", "; first"));
    std::u16string b = U16(Package("b.inf", "; second"));
    std::u16string missing = U16(dir / "missing.inf");
    char16_t dest[512];
    uint32_t required = 0;
    EXPECT_FALSE(CopyOEMInf(missing.c_str(), dest, 512, &required));
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND_CODE);

    std::u16string oem0 = U16(dir / "store" / "oem0.inf");
    ASSERT_TRUE(CopyOEMInf(a.c_str(), dest, 512, &required));
    EXPECT_EQ(std::u16string(dest), oem0);
    EXPECT_EQ(required, oem0.size() + 1);
    ASSERT_TRUE(CopyOEMInf(sameAsA.c_str(), dest, 512, &required));
    EXPECT_EQ(std::u16string(dest), oem0);
    ASSERT_TRUE(CopyOEMInf(b.c_str(), dest, 512, &required));
    EXPECT_EQ(std::u16string(dest), U16(dir / "store" / "oem1.inf"));
    EXPECT_EQ(FolderNames(dir / "store"),
              (std::vector<std::string>{"oem0.inf", "oem0.pnf", "oem1.inf", "oem1.pnf"}));
    EXPECT_EQ(ReadText(dir / "store" / "oem1.inf"),
              PackageTable::Packages().front().inf + "; second");
    // Each copy keeps the name of the INF it was first published for; one without a .pnf answers
    // its own name.
    std::u16string original;
    ASSERT_TRUE(GetOriginalInfName(oem0.c_str(), &original));
    EXPECT_EQ(original, u"a.inf");
    ASSERT_TRUE(GetOriginalInfName(U16(dir / "store" / "oem1.inf").c_str(), &original));
    EXPECT_EQ(original, u"b.inf");
    fs::remove(dir / "store" / "oem1.pnf");
    ASSERT_TRUE(GetOriginalInfName(U16(dir / "store" / "oem1.inf").c_str(), &original));
    EXPECT_EQ(original, u"oem1.inf");
    EXPECT_FALSE(GetOriginalInfName(missing.c_str(), &original));
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND_CODE);

    EXPECT_FALSE(CopyOEMInf(a.c_str(), dest, 5, &required));
    EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER_CODE);
    EXPECT_EQ(required, oem0.size() + 1);
}

// The package comes off every device that has it, present or not, and out of the store; a device
// that cannot be stopped runs the change after a restart. Without the force flag the INF-only
// removal refuses a package a device has, and with it leaves the devices their driver.
TEST_F(DeviceSim, UninstallCallsTakeThePackageOffDevicesAndOutOfTheStore) {
    Device busy = MakeDevice(u"BUSY", {kIdShort}, true);
    busy.stoppable = false;
    Use({MakeDevice(u"PRESENT", {kIdShort}, true), MakeDevice(u"ABSENT", {kIdShort}, false), busy,
         MakeDevice(u"OTHER", {kIdFull}, true)},
        (dir / "Machine.ini").string());
    std::u16string inf = U16(Package("sample.inf"));
    bool reboot = false;
    ASSERT_TRUE(UpdateDriverForDevices(kIdShort.c_str(), inf.c_str(), 0, &reboot));
    EXPECT_TRUE(reboot);
    EXPECT_EQ(DevSim::Current().devices[2].nodeStatus, DN_NEED_RESTART);
    DevSim::Current().devices[1].driver = u"OEM0.INF";
    DevSim::Current().devices[2].nodeStatus = 0;
    DevSim::Current().devices[3].driver = u"oem1.inf";
    const std::u16string staged = U16(dir / "store" / "oem0.inf");

    EXPECT_FALSE(UninstallOEMInf(u"oem0.inf", 0));
    EXPECT_EQ(LastError(), ERROR_INF_IN_USE_BY_DEVICES_CODE);
    const std::vector<std::pair<const char16_t*, uint32_t>> refused = {
        {u"oem7.inf", ERROR_FILE_NOT_FOUND_CODE},
        {u"", ERROR_INVALID_PARAMETER_CODE},
        {u"..\\oem0.inf", ERROR_INVALID_PARAMETER_CODE}};
    for (const auto& [name, error] : refused) {
        EXPECT_FALSE(UninstallOEMInf(name, SUOI_FORCEDELETE));
        EXPECT_EQ(LastError(), error);
    }
    EXPECT_FALSE(UninstallOEMInf(u"oem0.inf", 2));
    EXPECT_EQ(LastError(), 1004u);
    EXPECT_FALSE(UninstallDriver(staged.c_str(), 2, &reboot));
    EXPECT_EQ(LastError(), 1004u);
    const std::u16string elsewhere = U16(Write("oem0.inf", "[Version]\n"));
    EXPECT_FALSE(UninstallDriver(elsewhere.c_str(), 0, &reboot));
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND_CODE);
    // A call that reports success and does nothing, as Wine's does without the force flag.
    DevSim::AddFault({Op::UninstallInf, 6, 0, 1, std::nullopt});
    EXPECT_TRUE(UninstallOEMInf(u"oem0.inf", 0));
    EXPECT_EQ(FolderNames(dir / "store"), (std::vector<std::string>{"oem0.inf", "oem0.pnf"}));

    reboot = false;
    ASSERT_TRUE(UninstallDriver(staged.c_str(), 0, &reboot));
    EXPECT_TRUE(reboot);
    std::vector<std::u16string> drivers;
    for (const Device& device : DevSim::Current().devices) {
        drivers.push_back(device.driver);
    }
    EXPECT_EQ(drivers, (std::vector<std::u16string>{u"", u"", u"", u"oem1.inf"}));
    EXPECT_EQ(DevSim::Current().devices[2].nodeStatus, DN_NEED_RESTART);
    EXPECT_TRUE(FolderNames(dir / "store").empty());
    Machine saved;
    ASSERT_TRUE(DevSim::LoadMachineFile((dir / "Machine.ini").string(), &saved, nullptr));
    EXPECT_TRUE(saved.devices == DevSim::Current().devices);

    // The forced INF-only removal deletes a package in use and leaves the devices as they are.
    ASSERT_TRUE(UpdateDriverForDevices(kIdShort.c_str(), inf.c_str(), 0, &reboot));
    ASSERT_TRUE(UninstallOEMInf(u"oem0.inf", SUOI_FORCEDELETE));
    EXPECT_TRUE(FolderNames(dir / "store").empty());
    EXPECT_EQ(DevSim::Current().devices[0].driver, u"oem0.inf");

    // A missing function shows in its binding; the call's own error never says so.
    EXPECT_TRUE(BindUninstallDriver());
    EXPECT_TRUE(BindUninstallOEMInf());
    DevSim::Current().hasUninstallDriver = false;
    EXPECT_FALSE(BindUninstallDriver());
    EXPECT_EQ(LastError(), ERROR_PROC_NOT_FOUND_CODE);
    EXPECT_FALSE(UninstallDriver(staged.c_str(), 0, &reboot));
    EXPECT_EQ(LastError(), ERROR_PROC_NOT_FOUND_CODE);
    DevSim::AddFault({Op::Bind, 3, ERROR_MOD_NOT_FOUND_CODE, 0, std::nullopt});
    EXPECT_FALSE(BindUninstallOEMInf());
    EXPECT_EQ(LastError(), ERROR_MOD_NOT_FOUND_CODE);
}

// The simulator's INF parser: quotes, continuations, comments, %strkey%, merged sections, the
// encodings; the Setup API's errors with their lines.
TEST(InfParser, ReadsAnInfAsTheSetupApiDoes) {
    const std::string text = "; comment\n[Version]\nSignature=\"$Chicago$\"\n[A]\n"
                             "%K% = \" x, \"\"y\"\" \" , b ; c\n"
                             "long = 1,\\\n 2\n[strings]\nK = key\n[a]\nlast,,%u%,%%\n"
                             "q = \"a;b\",\\\n c\nd = \xE9\\\n";
    DevSim::ParsedInf inf;
    uint32_t line = 9;
    ASSERT_EQ(DevSim::ParseInf(std::vector<uint8_t>(text.begin(), text.end()), &inf, &line), 0u);
    std::vector<InfRules::InfLine> lines;
    ASSERT_TRUE(inf.Section(u"a", &lines));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].key, u"key");
    EXPECT_EQ(lines[0].fields, (std::vector<std::u16string>{u" x, \"y\" ", u"b"}));
    EXPECT_EQ(lines[1].fields, (std::vector<std::u16string>{u"1", u"2"}));
    EXPECT_EQ(lines[2].key, u"");
    EXPECT_EQ(lines[2].fields, (std::vector<std::u16string>{u"last", u"", u"%u%", u"%"}));
    // A quoted ';' is text, also on a continued line; a byte that is not UTF-8 is Latin-1; the
    // last line may end in a continuation.
    EXPECT_EQ(lines[3].fields, (std::vector<std::u16string>{u"a;b", u"c"}));
    EXPECT_EQ(lines[4].fields, std::vector<std::u16string>{u"\u00e9"});
    EXPECT_FALSE(inf.Section(u"B", &lines));
    const std::vector<uint8_t> utf16 = {
        0xFF, 0xFE, '[', 0, 'V', 0, 'e', 0, 'r', 0, 's', 0, 'i', 0, 'o', 0, 'n', 0, ']', 0,
        '\n', 0,    'S', 0, 'i', 0, 'g', 0, 'n', 0, 'a', 0, 't', 0, 'u', 0, 'r', 0, 'e', 0,
        '=',  0,    '$', 0, 'C', 0, 'h', 0, 'i', 0, 'c', 0, 'a', 0, 'g', 0, 'o', 0, '$', 0};
    EXPECT_EQ(DevSim::ParseInf(utf16, &inf, &line), 0u);
    const std::vector<std::tuple<std::string, uint32_t, uint32_t>> bad = {
        {"x = 1\n[Version]\n", DevSim::kErrorExpectedSectionName, 1},
        {"[Version]\nSignature=$Windows NT$\n\n[A\n", DevSim::kErrorBadSectionNameLine, 4},
        {"[Version]\n[" + std::string(256, 'a') + "]\n", DevSim::kErrorSectionNameTooLong, 2},
        {"[Version]\nSignature=$Windows 95$\n", DevSim::kErrorWrongInfStyle, 0},
    };
    for (const auto& [source, error, at] : bad) {
        EXPECT_EQ(DevSim::ParseInf(std::vector<uint8_t>(source.begin(), source.end()), &inf, &line),
                  error);
        EXPECT_EQ(line, at);
    }
}

TEST(StateFile, FormatRoundTripsEveryKindOfDevice) {
    Machine machine;
    machine.driverStore = "Store";
    machine.hasUninstallDriver = false;
    machine.platform = InfRules::Platform::Arm64;
    Device wellFormed = MakeDevice(u"ROOT\\GERÄT\\0000", {}, true, 0x20u);
    std::u16string longId(300, u'X');
    wellFormed.hardwareIds = DevSim::MultiSz({longId, u"Gerät#1;x=y", kIdShort});
    wellFormed.driver = u"oem3.inf";
    wellFormed.nodeStatus = 0x0180200A;
    wellFormed.problem = 28;
    wellFormed.stoppable = false;
    Device noClosingString = MakeDevice(u"B", {}, false, std::nullopt);
    noClosingString.hardwareIds = std::vector<uint8_t>{'A', 0, 0, 0};
    Device oddBytes = MakeDevice(u"C", {}, true, std::nullopt);
    oddBytes.hardwareIds = std::vector<uint8_t>{'A', 0, 0, 0, 0};
    oddBytes.configFlags = std::vector<uint8_t>{1, 2};
    Device emptyList = MakeDevice(u"D", {}, true);
    emptyList.hardwareIds = std::vector<uint8_t>{};
    Device blankEnds = MakeDevice(u"E", {u" padded "}, true);
    Device noIds = MakeDevice(u"", {}, true, std::nullopt);
    noIds.hardwareIds.reset();
    machine.devices = {wellFormed, noClosingString, oddBytes, emptyList, blankEnds, noIds};
    machine.faults = {Fault{Op::GetProperty, 2, 122, 0, 0xFFFFFFFFu},
                      Fault{Op::Update, 1, 0xE000020B, 3, std::nullopt}};
    // The store's packages with their catalogs, an empty one included, and Wine.
    machine.packages = {{u"oem0.inf", u"Katalog-Ä.cat", {'c', 0, 0xFF}},
                        {u"oem1.inf", u"x.cat", {}}};
    machine.wine = true;
    // The certificate files each [trust] list names, kept as written.
    machine.roots = {"Test Root.cer", "/etc/pki/root.pem"};
    machine.trustedPublishers = {"certs/publisher.cer"};
    machine.microsoftRoots = {"ms-root.cer"};

    std::string text = DevSim::FormatMachine(machine);
    const std::string expected =
        "# Device-manager simulator state. Rewritten by the simulator after each change; comments "
        "are not kept.\n[machine]\ndriver-store = Store\ndi-uninstall-driver = no\n"
        "platform = arm64\nwine = yes\n"
        "\n[device ROOT\\GER\xc3\x84T\\0000]\nhardware-id = " +
        std::string(300, 'X') +
        "\nhardware-id = Ger\xc3\xa4t#1;x=y\nhardware-id = USB\\VID_1234&PID_5678\n"
        "present = yes\nconfig-flags = 0x00000020\ndriver = oem3.inf\nnode-status = 0x0180200a\n"
        "problem = 28\nstoppable = no\n"
        "\n[device B]\nhardware-id-bytes = 41 00 00 00\npresent = no\n"
        "\n[device C]\nhardware-id-bytes = 41 00 00 00 00\npresent = yes\n"
        "config-flags-bytes = 01 02\n"
        "\n[device D]\nhardware-id-bytes = \npresent = yes\nconfig-flags = 0x00000000\n"
        "\n[device E]\nhardware-id-bytes = 20 00 70 00 61 00 64 00 64 00 65 00 64 00 20 00 00 00 "
        "00 00\npresent = yes\nconfig-flags = 0x00000000\n"
        "\n[device]\npresent = yes\n"
        "\n[package oem0.inf]\ncatalog = Katalog-\xc3\x84.cat\ncatalog-bytes = 63 00 ff\n"
        "\n[package oem1.inf]\ncatalog = x.cat\ncatalog-bytes = \n"
        "\n[trust]\nroot = Test Root.cer\nroot = /etc/pki/root.pem\n"
        "trusted-publisher = certs/publisher.cer\nmicrosoft-root = ms-root.cer\n"
        "\n[fault]\nfail = get-property 2 122 0 4294967295\nfail = update 1 0xe000020b 3\n";
    EXPECT_EQ(text, expected);
    Machine back;
    std::string error;
    ASSERT_TRUE(DevSim::ParseMachine(text, &back, &error)) << error << "\n" << text;
    EXPECT_TRUE(back == machine) << text;
    // The trust lists count in the comparison.
    back.microsoftRoots.clear();
    EXPECT_FALSE(back == machine);
    // A state file from before packages and trust were kept reads as a store without packages on
    // a machine that trusts nothing.
    text.erase(text.find("\n[package"), text.find("\n[fault]") - text.find("\n[package"));
    ASSERT_TRUE(DevSim::ParseMachine(text, &back, &error)) << error << "\n" << text;
    EXPECT_TRUE(back.packages.empty());
    EXPECT_TRUE(back.roots.empty() && back.trustedPublishers.empty() &&
                back.microsoftRoots.empty());
    EXPECT_EQ(DevSim::FormatMachine(back), text);
}

TEST(StateFile, ParsesCommentsAndNamesTheBadLine) {
    Machine machine;
    std::string error;
    ASSERT_TRUE(DevSim::ParseMachine("# c\r\n[device R\\1]\r\n; c\r\nhardware-id = A#B\r\n"
                                     "present = no\r\nconfig-flags = 32\r\n",
                                     &machine, &error))
        << error;
    ASSERT_EQ(machine.devices.size(), 1u);
    EXPECT_TRUE(machine.devices[0] == MakeDevice(u"R\\1", {u"A#B"}, false, 32u));

    const char* bad[] = {
        "[device A]\n\nshape = round\n",
        "[device A]\n\npresent = maybe\n",
        "[device A]\npresent = no\nstoppable = maybe\n",
        "[machine]\ndi-uninstall-driver = no\ndi-uninstall-driver = no\n",
        "[device A]\n\nhardware-id-bytes = 4\n",
        "[device A]\nhardware-id = X\nhardware-id-bytes = 00 00\n",
        "[device A]\n\nconfig-flags = 0x100000000\n",
        "[fault]\n\nfail = explode 1 5\n",
        "[fault]\n\nfail = enum 0 5\n",
        "[machine]\n\n[machine]\n",
        "\n\nhardware-id = X\n",
        "[device A]\n\n[gadget]\n",
        "[trust]\nroot = a.cer\nsigner = b.cer\n",
        "[trust]\nroot = a.cer\nroot =\n",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(DevSim::ParseMachine(text, &machine, &error)) << text;
        EXPECT_EQ(error.rfind("line 3:", 0), 0u) << text << " -> " << error;
    }
    EXPECT_FALSE(DevSim::ParseMachine("[trust]\nsigner = b.cer\n", &machine, &error));
    EXPECT_EQ(error, "line 2: unknown key 'signer' in [trust]");
}

TEST_F(DeviceSim, TrustedPublisherIsWrittenBesideTheStateFileNeverThroughALink) {
    const fs::path file = dir / "Machine.ini";
    Use({}, file.string());
    DevSim::Current().roots = {"root.cer"};
    EXPECT_EQ(DevSim::TrustFiles({"root.cer", "/etc/x.pem", "sub/p.cer"}),
              (std::vector<std::string>{(dir / "root.cer").string(), "/etc/x.pem",
                                        (dir / "sub/p.cer").string()}));
    // A link planted at the certificate's name is replaced; what it leads to is left as it was.
    Write("victim", "keep");
    fs::create_symlink(dir / "victim", dir / "publisher.cer");
    const std::vector<uint8_t> der = {0x30, 0x03, 0x02, 0x01, 0x00};
    EXPECT_EQ(DevSim::AddTrustedPublisher(der, "publisher.cer"), 0u);
    EXPECT_EQ(DevSim::AddTrustedPublisher(der, "publisher.cer"), 0u);
    EXPECT_EQ(ReadText(dir / "victim"), "keep");
    EXPECT_FALSE(fs::is_symlink(dir / "publisher.cer"));
    EXPECT_EQ(ReadText(dir / "publisher.cer"), std::string(der.begin(), der.end()));
    EXPECT_EQ(FolderNames(dir),
              (std::vector<std::string>{"Machine.ini", "publisher.cer", "victim"}));
    const std::string saved = ReadText(file);
    EXPECT_EQ(saved.substr(saved.find("\n[trust]")),
              "\n[trust]\nroot = root.cer\ntrusted-publisher = publisher.cer\n");
    // Only a plain name in the machine file's folder is taken.
    EXPECT_EQ(DevSim::AddTrustedPublisher(der, "../publisher.cer"), 87u);
    EXPECT_EQ(DevSim::AddTrustedPublisher(der, "/tmp/publisher.cer"), 87u);
    EXPECT_EQ(DevSim::Current().trustedPublishers, std::vector<std::string>{"publisher.cer"});
}

TEST_F(DeviceSim, DefaultMachineComesFromTheEnvironmentAndABrokenFileIsLeftAlone) {
    fs::path file =
        Write("Machine.ini", "[device A]\nhardware-id = X\n[fault]\nfail = enum 1 31\n");
    setenv("INSTALLER_MACHINE", file.c_str(), 1);
    EXPECT_TRUE(DevSim::LoadDefaultMachine());
    EXPECT_EQ(DevSim::Current().devices.size(), 1u);
    EXPECT_EQ(DevSim::DriverStoreFolder(), (dir / "DriverStore").string());
    DevInfoSet set = GetClassDevs(DIGCF_ALLCLASSES);
    DevInfoData element = Element();
    EXPECT_FALSE(EnumDeviceInfo(set, 0, &element));
    EXPECT_EQ(LastError(), 31u);
    DestroyDeviceInfoList(set);

    const std::string broken = "[device A]\npresent = sometimes\n";
    Write("Machine.ini", broken);
    EXPECT_FALSE(DevSim::LoadDefaultMachine());
    EXPECT_TRUE(DevSim::Current().devices.empty());
    EXPECT_TRUE(DevSim::StateFile().empty());
    EXPECT_NE(DevSim::StateFileError().find("line 2"), std::string::npos);
    // Even a change made to the stand-in machine never reaches the broken file.
    DevSim::Current().devices.push_back(MakeDevice(u"B", {kIdFull}, true));
    set = GetClassDevs(DIGCF_ALLCLASSES);
    ASSERT_TRUE(EnumDeviceInfo(set, 0, &element));
    std::vector<uint8_t> flags = DevSim::FlagBytes(CONFIGFLAG_REINSTALL);
    EXPECT_TRUE(SetDeviceRegistryProperty(set, &element, SPDRP_CONFIGFLAGS, flags.data(), 4));
    DestroyDeviceInfoList(set);
    EXPECT_EQ(ReadText(file), broken);
    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"Machine.ini"});

    setenv("INSTALLER_MACHINE", (dir / "absent.ini").c_str(), 1);
    EXPECT_TRUE(DevSim::LoadDefaultMachine());
    EXPECT_TRUE(DevSim::Current().devices.empty());
    EXPECT_EQ(DevSim::StateFile(), (dir / "absent.ini").string());
}

TEST_F(DeviceSim, FaultsHitTheirCallsForTheirCount) {
    Use({MakeDevice(u"A", {kIdFull}, true)});
    DevSim::AddFault({Op::Enum, 2, 1234, 2, std::nullopt});
    DevSim::AddFault({Op::NodeStatus, 3, 0x1F, 0, std::nullopt});
    DevSim::AddFault({Op::GetClassDevs, 2, 8, 1, std::nullopt});
    DevInfoSet set = GetClassDevs(DIGCF_ALLCLASSES);
    EXPECT_EQ(GetClassDevs(DIGCF_ALLCLASSES), kInvalidSet);
    EXPECT_EQ(LastError(), 8u);
    EXPECT_EQ(DevSim::OpenSets(), 1);

    DevInfoData element = Element();
    std::vector<bool> enumResults;
    std::vector<uint32_t> statusResults;
    for (int call = 1; call <= 5; ++call) {
        enumResults.push_back(EnumDeviceInfo(set, 0, &element));
        uint32_t status = 0;
        uint32_t problem = 0;
        statusResults.push_back(GetDevNodeStatus(&status, &problem, 1, 0));
    }
    EXPECT_EQ(enumResults, (std::vector<bool>{true, false, false, true, true}));
    EXPECT_EQ(statusResults, (std::vector<uint32_t>{0, 0, 0x1F, 0x1F, 0x1F}));
    EXPECT_EQ(DevSim::Calls(Op::Enum), 5u);
    DestroyDeviceInfoList(set);
}

TEST_F(DeviceSim, RequiredSizeFaultsReportTheirOwnSize) {
    Use({MakeDevice(u"A", {kIdFull}, true)});
    DevSim::AddFault({Op::GetProperty, 1, 122, 1, 0u});
    DevSim::AddFault({Op::GetProperty, 2, 122, 1, 0xFFFFFFFFu});
    DevSim::AddFault({Op::GetProperty, 3, 122, 1, std::nullopt});
    DevInfoSet set = GetClassDevs(DIGCF_PRESENT | DIGCF_ALLCLASSES);
    DevInfoData element = Element();
    ASSERT_TRUE(EnumDeviceInfo(set, 0, &element));
    uint8_t buffer[512];
    std::vector<uint32_t> sizes;
    for (int call = 1; call <= 3; ++call) {
        uint32_t required = 77;
        EXPECT_FALSE(
            GetDeviceRegistryProperty(set, &element, SPDRP_HARDWAREID, buffer, 512, &required));
        EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER_CODE);
        sizes.push_back(required);
    }
    const uint32_t trueSize = static_cast<uint32_t>(DevSim::MultiSz({kIdFull}).size());
    EXPECT_EQ(sizes, (std::vector<uint32_t>{0, 0xFFFFFFFF, trueSize}));
    EXPECT_TRUE(GetDeviceRegistryProperty(set, &element, SPDRP_HARDWAREID, buffer, 512, nullptr));
    DestroyDeviceInfoList(set);
}

TEST_F(DeviceSim, BuffersAndSetsAreCountedEvenWhenCallsFail) {
    Use({MakeDevice(u"A", {kIdFull}, true)});
    uint8_t* first = AllocateBuffer(16);
    uint8_t* second = AllocateBuffer(16);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(first, first + 16), std::vector<uint8_t>(16, 0));
    EXPECT_EQ(DevSim::LiveBuffers(), 2);
    ReleaseBuffer(first);
    ReleaseBuffer(first);
    ReleaseBuffer(nullptr);
    EXPECT_EQ(DevSim::LiveBuffers(), 1);
    EXPECT_EQ(DevSim::StrayReleases(), 1);

    // An ID buffer may be offered up to its size less the two spare bytes after the offer; more
    // fails, writes nothing and is counted, even when the data would fit.
    DevInfoSet ids = GetClassDevs(DIGCF_ALLCLASSES);
    DevInfoData element{};
    element.cbSize = sizeof(element);
    ASSERT_TRUE(EnumDeviceInfo(ids, 0, &element));
    uint32_t required = 0;
    EXPECT_FALSE(GetDeviceRegistryProperty(ids, &element, SPDRP_HARDWAREID, second, 15, &required));
    EXPECT_EQ(LastError(), 1784u);
    EXPECT_EQ(DevSim::OverlongOffers(), 1);
    EXPECT_EQ(std::vector<uint8_t>(second, second + 16), std::vector<uint8_t>(16, 0));
    EXPECT_FALSE(GetDeviceRegistryProperty(ids, &element, SPDRP_HARDWAREID, second, 14, &required));
    EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER_CODE);
    EXPECT_EQ(DevSim::OverlongOffers(), 1);
    DestroyDeviceInfoList(ids);
    ReleaseBuffer(second);

    DevSim::AddFault({Op::Alloc, 3, 0, 1, std::nullopt});
    DevSim::AddFault({Op::Alloc, 4, 14, 1, std::nullopt});
    EXPECT_EQ(AllocateBuffer(16), nullptr);
    EXPECT_EQ(LastError(), ERROR_NOT_ENOUGH_MEMORY_CODE);
    EXPECT_EQ(AllocateBuffer(16), nullptr);
    EXPECT_EQ(LastError(), 14u);
    EXPECT_EQ(DevSim::LiveBuffers(), 0);

    DevSim::AddFault({Op::Destroy, 2, 5, 1, std::nullopt});
    DevInfoSet set = GetClassDevs(DIGCF_ALLCLASSES);
    EXPECT_FALSE(DestroyDeviceInfoList(set));
    EXPECT_EQ(LastError(), 5u);
    EXPECT_EQ(DevSim::OpenSets(), 0);
    EXPECT_FALSE(DestroyDeviceInfoList(set));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE_CODE);
}

} // namespace
