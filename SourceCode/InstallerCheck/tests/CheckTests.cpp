// InstallerCheck against the simulated machine: its reports, its exit codes, and that it agrees
// with what a real run of the installation does, for each rule.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "CompanionTest.h"
#include "DeviceServices.h"
#include "Json.h"
#include "PackageTable.h"
#include "ReportFormat.h"
#include "Sequence.h"
#include "XTrace.h"

using DevSim::MakeDevice;
using DevSim::Op;

namespace {

using CheckTest = CompanionTest;

// The catalog lines of plan for a package signed by the test PKI's publisher, which the simulated
// machine trusts.
std::string CatalogLines() {
    return "  catalog: pkg.cat (CatalogFile), members: checked (SHA256)\n"
           "  signature: signer \"Example Devices Test Publisher\" (SHA-1 " +
           SigningTools::Thumbprints("publisher")[0] +
           "), root \"Example Test Root\", publisher trusted\n";
}

std::string SignatureJson() {
    const std::vector<std::string> thumbprints = SigningTools::Thumbprints("publisher");
    return "\"signature\":{\"algorithm\":\"SHA256\",\"signed\":true,\"signer\":\"Example "
           "Devices Test Publisher\",\"sha1\":\"" +
           thumbprints[0] + "\",\"sha256\":\"" + thumbprints[1] +
           "\",\"root\":\"Example Test Root\",\"signatureValid\":true,\"chainTrusted\":true,"
           "\"publisherTrusted\":true,\"microsoftHardware\":false}";
}

// A present device, two absent ones (one marked already), an unrelated device, and one whose
// only entry begins with the requested ID, which the prefix rule alone matches.
std::vector<DevSim::Device> Mixed() {
    return {MakeDevice(u"ROOT\\PRESENT\\0000", {kIdOther, kIdShort}, true, 0x4),
            MakeDevice(u"ROOT\\GONE\\0000", {kIdShort}, false, 0x40010204),
            MakeDevice(u"ROOT\\OTHER\\0000", {kIdOther}, false, 0x0),
            MakeDevice(u"ROOT\\MARKED\\0000", {kIdShort}, false, 0x20),
            MakeDevice(u"ROOT\\LONGER\\0000", {kIdFull}, false, 0x0)};
}

TEST_F(CheckTest, PlanNamesTheActionAndTheDevicesByThisProgramsRule) {
    UseDevices(Mixed());
    CheckResult plan = Check({u"plan", u"USB\\VID_1234&PID_5678", inf_});
    EXPECT_EQ(plan.exitCode, 0);
    EXPECT_EQ(plan.err, u"");
    const std::string driver =
        ": driver \"Example USB Sample Device\", install section PkgInstall, "
        "matched USB\\VID_1234&PID_5678";
    const std::string package = "package for NTamd64: will install here\n" + CatalogLines();
    std::string expected = Header("plan") + package + "  ROOT\\PRESENT\\0000" + driver + "\n" +
                           "  ROOT\\GONE\\0000" + driver + "\n" + "  ROOT\\MARKED\\0000" + driver +
                           "\n";
    if (kPrefixRule) {
        expected += "  ROOT\\LONGER\\0000" + driver + "&REV_0100\n";
    }
    expected += "1. install the driver on 1 present device:\n"
                "     ROOT\\PRESENT\\0000\n";
    expected += kPrefixRule ? "2. mark 3 absent devices for reinstallation:\n"
                            : "2. mark 2 absent devices for reinstallation:\n";
    expected += "     ROOT\\GONE\\0000  config flags now 0x40010204\n"
                "     ROOT\\MARKED\\0000  config flags now 0x00000020\n";
    if (kPrefixRule) {
        expected += "     ROOT\\LONGER\\0000  config flags now 0x00000000\n";
    }
    EXPECT_EQ(Narrow(plan.out), expected);

    UseDevices({MakeDevice(u"ROOT\\OTHER\\0000", {kIdOther}, true, 0x0)});
    plan = Check({u"plan", kIdShort, inf_});
    EXPECT_EQ(Narrow(plan.out), Header("plan") + package +
                                    "1. stage the INF (no present device matches)\n"
                                    "2. nothing to mark\n");
    plan = Check({u"plan", u"--json", kIdShort, inf_});
    EXPECT_EQ(Narrow(plan.out),
              "{\"command\":\"plan\",\"hardwareId\":\"usb\\\\vid_1234&pid_5678\",\"requestedId\":"
              "\"USB\\\\VID_1234&PID_5678\",\"rule\":\"" +
                  std::string(kPrefixRule ? "prefix" : "equality") +
                  "\",\"inf\":" + Narrow(JsonString(inf_)) +
                  ",\"devices\":[],\"action\":\"stage\",\"install\":[],\"mark\":[],\"package\":"
                  "{\"platform\":\"NTamd64\",\"willInstall\":true,\"catalog\":\"pkg.cat\","
                  "\"members\":\"checked (SHA256)\"," +
                  SignatureJson() +
                  ",\"reasons\":[]},\"notes\":[],\"result\":"
                  "\"planned\"}\n");
}

// The shared table's packages for a present device: a bad one is exit 1 with each reason on a
// line of standard error, the complete one exit 0; the whole report of two. With no device, a
// mistyped ID is not verified because the INF is staged.
TEST_F(CheckTest, PlanTellsWhetherThePackageWillInstallHereAndWhyNot) {
    UseDevices({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true, 0x0)});
    std::vector<std::u16string> infs;
    for (const PackageTable::Package& package : PackageTable::Packages()) {
        SCOPED_TRACE(package.name);
        infs.push_back(
            Text::Utf8ToUtf16(PackageTable::Write(package, dir_ / package.name).string()));
        const CheckResult plan = Check({u"plan", kIdShort, infs.back()});
        EXPECT_EQ(plan.exitCode, package.reasons.empty() ? 0 : 1);
        EXPECT_EQ(Narrow(plan.err), package.reasons);
        // Wine's driver search writes to the device (the simulated one refuses): there the
        // device's IDs meet the INF's models, to the same verdict.
        DevSim::Current().wine = true;
        const CheckResult wine = Check({u"plan", kIdShort, infs.back()});
        DevSim::Current().wine = false;
        EXPECT_EQ(wine.exitCode, plan.exitCode);
        EXPECT_EQ(wine.out, plan.out);
        EXPECT_EQ(wine.err, plan.err);
    }
    const std::string rule = kPrefixRule ? "prefix" : "equality";
    auto head = [&](const std::u16string& inf) {
        return "plan for hardware ID \"usb\\vid_1234&pid_5678\" (given as "
               "\"USB\\VID_1234&PID_5678\"), " +
               rule + " rule, INF \"" + Narrow(inf) + "\"\n";
    };
    const std::string steps = "1. install the driver on 1 present device:\n"
                              "     ROOT\\PRESENT\\0000\n2. nothing to mark\n";
    EXPECT_EQ(Narrow(Check({u"plan", kIdShort, infs[0]}).out),
              head(infs[0]) + "package for NTamd64: will install here\n" + CatalogLines() +
                  "  ROOT\\PRESENT\\0000: driver \"Example USB Sample Device\", install section "
                  "PkgInstall, matched USB\\VID_1234&PID_5678\n" +
                  steps);
    EXPECT_EQ(Narrow(Check({u"plan", kIdShort, infs[1]}).out),
              head(infs[1]) + "package for NTamd64: will not install here\n" + CatalogLines() +
                  "  ROOT\\PRESENT\\0000: no driver for this device on NTamd64\n"
                  "  reason: the INF offers no driver for ROOT\\PRESENT\\0000 on NTamd64\n" +
                  steps);
    // The device's IDs cannot be read for the driver search: a reason, never a verdict of "will
    // install". The survey's reads of the device come first (calls 1 to 3).
    for (const bool wine : {false, true}) {
        UseDevices(DevSim::Current().devices);
        DevSim::Current().wine = wine;
        DevSim::AddFault(Fail(Op::GetProperty, 4, 0x1f));
        const CheckResult failed = Check({u"plan", kIdShort, infs[0]});
        DevSim::Current().wine = false;
        EXPECT_EQ(failed.exitCode, 1);
        EXPECT_EQ(Narrow(failed.out),
                  head(infs[0]) + "package for NTamd64: will not install here\n" + CatalogLines() +
                      "  ROOT\\PRESENT\\0000: no driver for this device on NTamd64\n"
                      "  reason: Windows' driver search for ROOT\\PRESENT\\0000 failed (error "
                      "0x1f)\n"
                      "  reason: the INF offers no driver for ROOT\\PRESENT\\0000 on NTamd64\n" +
                      steps);
    }
    // A line whose ID stands in a compatible ID's place offers its driver all the same.
    const auto& packages = PackageTable::Packages();
    const size_t compat = static_cast<size_t>(std::find_if(packages.begin(), packages.end(),
                                                           [](const auto& p) {
                                                               return std::string(p.name) ==
                                                                      "compatible-ID-only line";
                                                           }) -
                                              packages.begin());
    ASSERT_LT(compat, infs.size());
    EXPECT_EQ(Narrow(Check({u"plan", kIdShort, infs[compat]}).out),
              head(infs[compat]) + "package for NTamd64: will install here\n" + CatalogLines() +
                  "  ROOT\\PRESENT\\0000: driver \"Example USB Sample Device\", install section "
                  "PkgInstall, matched USB\\VID_1234&PID_5678\n" +
                  steps);
    // The simulated Windows for x86 finds the x86 models.
    DevSim::Current().platform = InfRules::Platform::X86;
    EXPECT_EQ(Check({u"plan", kIdShort, infs[1]}).exitCode, 0);
    DevSim::Current().platform.reset();

    UseDevices({});
    Install(kIdShort);
    const CheckResult typo = Verify(u"USB\\VID_1234&PID_567");
    EXPECT_EQ(typo.exitCode, 1);
    const std::string folder = std::filesystem::absolute(StoreDir()).string();
    EXPECT_EQ(Narrow(typo.out),
              "verify for hardware ID \"usb\\vid_1234&pid_567\" (given as "
              "\"USB\\VID_1234&PID_567\"), " +
                  rule + " rule, INF \"" + Narrow(inf_) + "\"\nINF staged: ok, " + folder +
                  "\\oem0.inf holds the INF's bytes\n"
                  "the INF's models name the hardware ID: FAILED, no driver for NTamd64\n"
                  "present devices use the INF: ok, no present device\n"
                  "absent devices marked for reinstallation: ok, no absent device\n"
                  "package: the INF's models for NTamd64 name no driver for hardware ID "
                  "\"usb\\vid_1234&pid_567\"\n"
                  "result: not verified\n");
    EXPECT_EQ(Verify(u"USB\\VID_1234&PID_567", u"--detect").out, u"");
    EXPECT_EQ(Verify(kIdShort).exitCode, 0);
}

// Each branch of a real run, checked before and after: verify fails first, naming what is
// missing, and passes once the installation has run.
TEST_F(CheckTest, VerifyFailsBeforeARunAndHoldsAfterItInEachBranch) {
    struct Branch {
        const char* name;
        std::vector<DevSim::Device> devices;
        std::string before; // the conditions' lines between the staging line and the result
        std::string after;
        int afterCode = 0;
    };
    const std::string noPresent = "present devices use the INF: ok, no present device\n";
    const std::string noAbsent = "absent devices marked for reinstallation: ok, no absent device\n";
    // With no matching device the check asks whether the INF's models name the ID at all.
    const std::string models = "the INF's models name the hardware ID: ok, a driver for NTamd64\n";
    DevSim::Device busy = MakeDevice(u"ROOT\\BUSY\\0000", {kIdShort}, true, 0x4);
    busy.stoppable = false;
    const std::vector<Branch> branches = {
        {"no device",
         {MakeDevice(u"ROOT\\OTHER\\0000", {kIdOther}, true)},
         models + noPresent + noAbsent,
         models + noPresent + noAbsent},
        {"present",
         {MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true, 0x4)},
         "present devices use the INF: FAILED, 1 of 1 device failing\n"
         "  ROOT\\PRESENT\\0000: has no driver from an INF\n" +
             noAbsent,
         "present devices use the INF: ok, 1 device\n"
         "  ROOT\\PRESENT\\0000: ok, driver from oem0.inf\n" +
             noAbsent},
        {"absent",
         {MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0x10004),
          MakeDevice(u"ROOT\\B\\0000", {kIdOther, kIdShort}, false, 0x0)},
         noPresent + "absent devices marked for reinstallation: FAILED, 2 of 2 devices failing\n"
                     "  ROOT\\A\\0000: not marked, config flags 0x00010004\n"
                     "  ROOT\\B\\0000: not marked, config flags 0x00000000\n",
         noPresent + "absent devices marked for reinstallation: ok, 2 devices\n"
                     "  ROOT\\A\\0000: ok, config flags 0x00010024\n"
                     "  ROOT\\B\\0000: ok, config flags 0x00000020\n"},
        // Installed on a device that cannot be stopped: it runs the driver after a restart.
        {"restart",
         {busy},
         "present devices use the INF: FAILED, 1 of 1 device failing\n"
         "  ROOT\\BUSY\\0000: has no driver from an INF\n" +
             noAbsent,
         "present devices use the INF: ok, 1 device\n"
         "  ROOT\\BUSY\\0000: restart needed, driver from oem0.inf\n" +
             noAbsent,
         4},
    };
    const std::string notStaged =
        "INF staged: FAILED, no INF in " + StoreName() + " holds the INF's bytes\n";
    const std::string staged =
        "INF staged: ok, " + StoreName() + "\\oem0.inf holds the INF's bytes\n";
    for (const Branch& branch : branches) {
        SCOPED_TRACE(branch.name);
        UseDevices(branch.devices);
        CheckResult before = Verify(u"USB\\VID_1234&PID_5678");
        EXPECT_EQ(before.exitCode, 1);
        EXPECT_EQ(Narrow(before.out),
                  Header("verify") + notStaged + branch.before + "result: not verified\n");
        EXPECT_EQ(Check({u"verify", u"--detect", kIdShort, inf_}).out, u"");

        Install(u"USB\\VID_1234&PID_5678");
        CheckResult after = Verify(kIdShort);
        EXPECT_EQ(after.exitCode, branch.afterCode) << Narrow(after.out + after.err);
        EXPECT_EQ(Narrow(after.out),
                  Header("verify") + staged + branch.after +
                      (branch.afterCode == 4 ? "result: verified, restart needed\n"
                                             : "result: verified\n"));
        std::filesystem::remove_all(StoreDir());
    }
}

TEST_F(CheckTest, VerifyNamesEachDeviceThatIsNotInTheStateARunLeaves) {
    UseDevices({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true),
                MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0x4),
                MakeDevice(u"ROOT\\B\\0000", {kIdShort}, false, 0x4)});
    Install(kIdShort);
    // The report of verify for `inf`: its lines after the first, then the result.
    auto report = [&](const std::u16string& inf, bool staged, const std::string& present,
                      const std::string& absent) {
        const std::string head = "verify for hardware ID \"usb\\vid_1234&pid_5678\" (given as "
                                 "\"USB\\VID_1234&PID_5678\"), " +
                                 std::string(kPrefixRule ? "prefix" : "equality") +
                                 " rule, INF \"" + Narrow(inf) + "\"\n";
        const std::string stagedLine =
            staged ? "INF staged: ok, " + StoreName() + "\\oem0.inf holds the INF's bytes\n"
                   : "INF staged: FAILED, no INF in " + StoreName() + " holds the INF's bytes\n";
        const bool verified = staged && present.find("FAILED") == std::string::npos &&
                              absent.find("FAILED") == std::string::npos;
        return head + stagedLine + present + absent +
               (verified ? "result: verified\n" : "result: not verified\n");
    };
    const std::string presentOk = "present devices use the INF: ok, 1 device\n"
                                  "  ROOT\\PRESENT\\0000: ok, driver from oem0.inf\n";
    const std::string presentUnstaged =
        "present devices use the INF: FAILED, 1 of 1 device failing\n"
        "  ROOT\\PRESENT\\0000: uses oem0.inf, and the INF is not "
        "staged\n";
    const std::string absentOk = "absent devices marked for reinstallation: ok, 2 devices\n"
                                 "  ROOT\\A\\0000: ok, config flags 0x00000024\n"
                                 "  ROOT\\B\\0000: ok, config flags 0x00000024\n";
    auto absentFailing = [](const std::string& a, const std::string& b) {
        return "absent devices marked for reinstallation: FAILED, 1 of 2 devices failing\n"
               "  ROOT\\A\\0000: " +
               a + "\n  ROOT\\B\\0000: " + b + "\n";
    };
    CheckResult result = Verify(kIdShort);
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(Narrow(result.out), report(inf_, true, presentOk, absentOk));

    // One marked device loses its flag again.
    Device(2).configFlags = DevSim::FlagBytes(0x4);
    result = Verify(kIdShort);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(Narrow(result.out), report(inf_, true, presentOk,
                                         absentFailing("ok, config flags 0x00000024",
                                                       "not marked, config flags 0x00000004")));
    Device(2).configFlags = DevSim::FlagBytes(0x24);

    // The present device has another driver.
    Device(0).driver = u"oem7.inf";
    result = Verify(kIdShort);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(Narrow(result.out),
              report(inf_, true,
                     "present devices use the INF: FAILED, 1 of 1 device failing\n"
                     "  ROOT\\PRESENT\\0000: uses oem7.inf, not oem0.inf\n",
                     absentOk));
    // A driver key may name the copy by its full path.
    Device(0).driver = u"C:\\WINDOWS\\INF\\OEM0.INF";
    EXPECT_EQ(Narrow(Verify(kIdShort).out),
              report(inf_, true,
                     "present devices use the INF: ok, 1 device\n"
                     "  ROOT\\PRESENT\\0000: ok, driver from C:\\WINDOWS\\INF\\OEM0.INF\n",
                     absentOk));
    Device(0).driver = u"oem0.inf";

    // Another INF, or the staged copy with other bytes: not staged, and no device uses it; its
    // catalog does not hold it either (the hash is the complete INF's with the line appended).
    const std::u16string other = MakeInf("other.inf");
    std::ofstream(Narrow(other), std::ios::app) << "; changed\n";
    result = Check({u"verify", kIdShort, other});
    EXPECT_EQ(result.exitCode, 1);
    std::string unstaged = report(other, false, presentUnstaged, absentOk);
    unstaged.insert(unstaged.rfind("result: "),
                    "package: the file other.inf is not in the catalog pkg.cat (CatalogFile): its "
                    "SHA256 hash 6BD41D49A3898F9395C3EA6B5555DA587E2740CA7EAD5CA754D768CCF4E65644 "
                    "is no member's\n");
    EXPECT_EQ(Narrow(result.out), unstaged);
    // The same bytes under another INF's name: the copy was published for sample.inf, not for
    // it, so it is another package's and named as such; a file of that name in the INF folder
    // is no published copy at all.
    const std::u16string same = MakeInf("same.inf");
    std::filesystem::copy_file(StoreDir() / "oem0.inf", StoreDir() / "other.inf");
    result = Check({u"verify", kIdShort, same});
    EXPECT_EQ(result.exitCode, 1);
    std::string published = report(same, false, presentUnstaged, absentOk);
    const std::string none = "no INF in " + StoreName() + " holds the INF's bytes";
    published.replace(published.find(none), none.size(),
                      StoreName() + "\\oem0.inf holds the INF's bytes, but is another package: "
                                    "published for sample.inf");
    EXPECT_EQ(Narrow(result.out), published);
    EXPECT_EQ(Narrow(Verify(kIdShort).out), report(inf_, true, presentOk, absentOk));
    std::ofstream(StoreDir() / "oem0.inf", std::ios::app) << ";";
    EXPECT_EQ(Narrow(Verify(kIdShort).out), report(inf_, false, presentUnstaged, absentOk));
    // An absent device without a flag word can never be marked.
    Device(1).configFlags.reset();
    EXPECT_EQ(
        Narrow(Verify(kIdShort).out),
        report(inf_, false, presentUnstaged,
               absentFailing("not marked: it has no config flags", "ok, config flags 0x00000024")));
    Device(1).configFlags = std::vector<uint8_t>{0x20, 0};
    EXPECT_EQ(Narrow(Verify(kIdShort).out),
              report(inf_, false, presentUnstaged,
                     absentFailing("not marked: its config flags are 2 bytes, not a 32-bit word",
                                   "ok, config flags 0x00000024")));
}

TEST_F(CheckTest, DetectAndJsonForms) {
    UseDevices({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true),
                MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0x4)});
    Install(kIdShort);
    CheckResult detect = Verify(kIdShort, u"--detect");
    EXPECT_EQ(detect.exitCode, 0);
    EXPECT_EQ(detect.out, u"verified: usb\\vid_1234&pid_5678 with oem0.inf\n");
    EXPECT_EQ(detect.err, u"");

    CheckResult json = Verify(kIdShort, u"--json");
    EXPECT_EQ(json.exitCode, 0);
    const std::string folder =
        Narrow(JsonString(Text::Utf8ToUtf16(std::filesystem::absolute(StoreDir()).string())));
    const std::string rule = kPrefixRule ? "prefix" : "equality";
    const std::string verifiedJson =
        "{\"command\":\"verify\",\"hardwareId\":\"usb\\\\vid_1234&pid_5678\","
        "\"requestedId\":\"USB\\\\VID_1234&PID_5678\",\"rule\":\"" +
        rule + "\",\"inf\":" + Narrow(JsonString(inf_)) +
        ",\"devices\":[{\"instanceId\":\"ROOT\\\\PRESENT\\\\0000\",\"present\":true,"
        "\"configFlags\":0,\"driverInf\":\"oem0.inf\","
        "\"driver\":{\"description\":\"Example USB Sample "
        "Device\",\"installSection\":\"PkgInstall\",\"matchedId\":\"USB\\\\VID_1234&PID_"
        "5678\"},\"ok\":true,"
        "\"detail\":\"ok, driver from oem0.inf\"},{\"instanceId\":\"ROOT\\\\A\\\\0000\","
        "\"present\":false,\"configFlags\":36,\"driverInf\":null,"
        "\"driver\":{\"description\":\"Example USB Sample "
        "Device\",\"installSection\":\"PkgInstall\",\"matchedId\":\"USB\\\\VID_1234&PID_"
        "5678\"},\"ok\":true,"
        "\"detail\":\"ok, config flags 0x00000024\"}],\"infFolder\":" +
        folder +
        ",\"stagedCopies\":[\"oem0.inf\"],\"conditions\":[{\"name\":\"INF staged\","
        "\"ok\":true,\"detail\":" +
        folder.substr(0, folder.size() - 1) +
        "\\\\oem0.inf holds the INF's bytes\"},{\"name\":\"present devices use the "
        "INF\",\"ok\":true,\"detail\":\"1 device\"},{\"name\":\"absent devices marked "
        "for reinstallation\",\"ok\":true,\"detail\":\"1 device\"}],"
        "\"restartRequired\":false,"
        "\"package\":{\"platform\":\"NTamd64\",\"willInstall\":true,\"catalog\":\"pkg."
        "cat\",\"members\":\"checked (SHA256)\"," +
        SignatureJson() +
        ",\"reasons\":[]},"
        "\"notes\":[],\"result\":\"verified\"}\n";
    EXPECT_EQ(Narrow(json.out), verifiedJson);
    // Escapes; a whole surrogate pair as it is; a lone surrogate, high or low, also at the very
    // end, escaped.
    EXPECT_EQ(Narrow(JsonString(u"a\"\\\n\x01\xD800z\xD83D\xDFFF!\xDC00\xDBFF")),
              "\"a\\\"\\\\\\u000a\\u0001\\ud800z\U0001F7FF!\\udc00\\udbff\"");

    // The present device runs its new driver only after a restart, by its status bit or its
    // problem: installed, and exit 4; detection counts it as installed.
    for (const auto& [status, problem] :
         {std::pair{DevSvc::DN_NEED_RESTART, 0u}, std::pair{0u, DevSvc::CM_PROB_NEED_RESTART}}) {
        Device(0).nodeStatus = status;
        Device(0).problem = problem;
        CheckResult restart = Verify(kIdShort);
        EXPECT_EQ(restart.exitCode, 4);
        EXPECT_EQ(Narrow(restart.out),
                  Header("verify") + "INF staged: ok, " + StoreName() +
                      "\\oem0.inf holds the INF's bytes\n"
                      "present devices use the INF: ok, 1 device\n"
                      "  ROOT\\PRESENT\\0000: restart needed, driver from oem0.inf\n"
                      "absent devices marked for reinstallation: ok, 1 device\n"
                      "  ROOT\\A\\0000: ok, config flags 0x00000024\n"
                      "result: verified, restart needed\n");
        detect = Verify(kIdShort, u"--detect");
        EXPECT_EQ(detect.exitCode, 0);
        EXPECT_EQ(detect.out, u"verified: usb\\vid_1234&pid_5678 with oem0.inf, restart needed\n");
        json = Verify(kIdShort, u"--json");
        EXPECT_EQ(json.exitCode, 4);
        std::string restartJson = verifiedJson;
        for (const auto& [from, to] :
             {std::pair<std::string, std::string>{"\"detail\":\"ok, driver from oem0.inf\"",
                                                  "\"detail\":\"restart needed, driver from "
                                                  "oem0.inf\""},
              {"\"restartRequired\":false", "\"restartRequired\":true"}}) {
            restartJson.replace(restartJson.find(from), from.size(), to);
        }
        EXPECT_EQ(Narrow(json.out), restartJson);
    }
    // Other bits are no restart. A problem other than the restart's is a driver that does not
    // run (10: it failed to start; 13 with the restart bit): not installed, naming the device and
    // the code, and detection says "not installed".
    Device(0).nodeStatus = 0x0180200A;
    Device(0).problem = 0;
    EXPECT_EQ(Verify(kIdShort).exitCode, 0);
    const std::string copy =
        std::filesystem::absolute(StoreDir()).lexically_normal().string() + "\\oem0.inf";
    for (const auto& [status, problem] :
         {std::pair{0x0180200Au, 10u}, std::pair{DevSvc::DN_NEED_RESTART, 13u}}) {
        Device(0).nodeStatus = status;
        Device(0).problem = problem;
        CheckResult failed = Verify(kIdShort);
        EXPECT_EQ(failed.exitCode, 1);
        EXPECT_EQ(Narrow(failed.out),
                  "verify for hardware ID \"usb\\vid_1234&pid_5678\" (given as "
                  "\"USB\\VID_1234&PID_5678\"), " +
                      rule + " rule, INF \"" + Narrow(inf_) + "\"\nINF staged: ok, " + copy +
                      " holds the INF's bytes\npresent devices use the INF: FAILED, 1 of 1 device "
                      "failing\n  ROOT\\PRESENT\\0000: driver from oem0.inf, but its node "
                      "reports problem code " +
                      std::to_string(problem) +
                      "\nabsent devices marked for reinstallation: ok, 1 device\n  ROOT\\A\\0000: "
                      "ok, config flags 0x00000024\nresult: not verified\n");
        EXPECT_EQ(Verify(kIdShort, u"--detect").out, u"");
    }
    Device(0).nodeStatus = 0;
    Device(0).problem = 0;

    // Not verified: nothing at all, still exit 0.
    Device(1).configFlags = DevSim::FlagBytes(0x4);
    detect = Verify(kIdShort, u"--detect");
    EXPECT_EQ(detect.exitCode, 0);
    EXPECT_EQ(detect.out + detect.err, u"");
    json = Check({u"plan", u"--json", kIdShort, inf_});
    const std::string driver = "\"driver\":{\"description\":\"Example USB Sample Device\","
                               "\"installSection\":\"PkgInstall\",\"matchedId\":"
                               "\"USB\\\\VID_1234&PID_5678\"}";
    EXPECT_EQ(Narrow(json.out),
              "{\"command\":\"plan\",\"hardwareId\":\"usb\\\\vid_1234&pid_5678\","
              "\"requestedId\":\"USB\\\\VID_1234&PID_5678\",\"rule\":\"" +
                  rule + "\",\"inf\":" + Narrow(JsonString(inf_)) +
                  ",\"devices\":[{\"instanceId\":\"ROOT\\\\PRESENT\\\\0000\",\"present\":true,"
                  "\"configFlags\":0,\"driverInf\":\"oem0.inf\"," +
                  driver +
                  "},{\"instanceId\":\"ROOT\\\\A\\\\0000\",\"present\":false,\"configFlags\":4,"
                  "\"driverInf\":null," +
                  driver +
                  "}],\"action\":\"install\",\"install\":[\"ROOT\\\\PRESENT\\\\0000\"],"
                  "\"mark\":[\"ROOT\\\\A\\\\0000\"],\"package\":{\"platform\":\"NTamd64\","
                  "\"willInstall\":true,\"catalog\":\"pkg.cat\",\"members\":\"checked "
                  "(SHA256)\"," +
                  SignatureJson() +
                  ","
                  "\"reasons\":[]},\"notes\":[],\"result\":\"planned\"}\n");
}

TEST_F(CheckTest, AWrongCommandLineIsAUsageErrorAndReadsNoDevice) {
    const std::u16string folder = Text::Utf8ToUtf16(dir_.string());
    const std::string notFull = "\" is not a full path";
    const std::string missing = "\" does not exist (error 0x2)";
    const std::string inf = "the INF \"";
    const std::string expected = "expected a hardware ID and an INF full path";
    const std::string notId = "the hardware ID is not a hardware ID (too long, or holds a NUL)";
    const std::string usage =
        "usage: InstallerCheck plan   [--json]          <hardware ID> <INF full path>\n"
        "       InstallerCheck verify [--json|--detect] <hardware ID> <INF full path>\n"
        "plan: what Installer would do on this machine now. verify: whether the machine is in the\n"
        "state a successful run of Installer leaves. Reads only; changes nothing.\n"
        "exit codes: 0 planned or verified, 1 not verified, or the package will not install here\n"
        "(plan: each reason on standard error), 2 wrong command line, 3 the device state could\n"
        "not be read, 4 verified but a device needs a restart. --detect: verified prints one\n"
        "line, not verified prints nothing; both exit 0.\n";
    const std::vector<std::pair<std::vector<std::u16string>, std::string>> wrong = {
        {{}, "no command"},
        {{u"verify"}, expected},
        {{u"install", kIdShort, inf_}, "unknown command \"install\""},
        {{u"plan", kIdShort}, expected},
        {{u"verify", kIdShort, inf_, u"extra"}, expected},
        {{u"plan", u"--detect", kIdShort, inf_}, "unknown option \"--detect\" for plan"},
        {{u"verify", u"--json", u"--detect", kIdShort, inf_},
         "--json and --detect exclude each other"},
        {{u"verify", u"--json", u"--json", kIdShort, inf_}, "--json is given twice"},
        {{u"verify", u"--quiet", kIdShort, inf_}, "unknown option \"--quiet\" for verify"},
        {{u"verify", u"", inf_}, "the hardware ID is empty"},
        {{u"verify", std::u16string(2000, u'a'), inf_}, notId},
        {{u"verify", std::u16string(u"A\0B", 3), inf_}, notId},
        // Only a drive letter with a separator, two backslashes, or here a slash start a full
        // path.
        {{u"verify", kIdShort, u"sample.inf"}, inf + "sample.inf" + notFull},
        {{u"verify", kIdShort, u"C:sample.inf"}, inf + "C:sample.inf" + notFull},
        {{u"verify", kIdShort, u"`:\\x.inf"}, inf + "`:\\x.inf" + notFull},
        {{u"verify", kIdShort, u"{:/x.inf"}, inf + "{:/x.inf" + notFull},
        {{u"verify", kIdShort, u"\\x.inf"}, inf + "\\x.inf" + notFull},
        {{u"verify", kIdShort, u"C:"}, inf + "C:" + notFull},
        {{u"verify", kIdShort, u"a:\\"}, inf + "a:\\" + missing},
        {{u"verify", kIdShort, u"Z:/x.inf"}, inf + "Z:/x.inf" + missing},
        {{u"verify", kIdShort, u"\\\\s"}, inf + "\\\\s" + missing},
        {{u"verify", kIdShort, folder + u"/missing.inf"},
         inf + dir_.string() + "/missing.inf" + missing},
        {{u"verify", kIdShort, folder}, inf + dir_.string() + "\" is a folder"},
        // Not read at all, and no wait for a writer: a FIFO and a device.
        {{u"verify", kIdShort, folder + u"/fifo.inf"},
         inf + dir_.string() + "/fifo.inf\" is not a plain file"},
        {{u"plan", kIdShort, u"/dev/null"}, inf + "/dev/null\" is not a plain file"},
    };
    ASSERT_EQ(mkfifo((dir_ / "fifo.inf").c_str(), 0600), 0);
    for (const auto& [arguments, problem] : wrong) {
        CheckResult result = Check(arguments);
        EXPECT_EQ(result.exitCode, 2) << Narrow(result.err);
        EXPECT_EQ(result.out, u"");
        EXPECT_EQ(Narrow(result.err), "InstallerCheck: " + problem + "\n" + usage);
    }
    EXPECT_EQ(DevSim::Calls(Op::GetClassDevs), 0u);
    for (const char16_t* option : {u"--help", u"-h", u"/?", u"help"}) {
        CheckResult help = Check({option});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(Narrow(help.out), usage);
        EXPECT_EQ(help.err, u"");
    }
    // "--" ends the options, so an ID may begin with dashes (one the INF does not name).
    EXPECT_EQ(Check({u"plan", u"--", u"--odd", inf_}).err,
              u"InstallerCheck: the INF's models for NTamd64 name no driver for hardware ID "
              u"\"--odd\"\n");
}

// Every read the check makes can fail; each failure is exit 3 with its reason, never a verdict.
TEST_F(CheckTest, AFailingReadIsReportedAsUnreadableState) {
    struct Case {
        std::vector<DevSim::Fault> faults;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{Fail(Op::GetClassDevs, 1, 5)}, "no device information set could be built (error 0x5)"},
        {{Fail(Op::Enum, 2, 0x1f)}, "the enumeration of devices failed (error 0x1f)"},
        {{Fail(Op::GetProperty, 1, 0x1f)}, "the hardware IDs of ROOT\\A\\0000 could not be read"},
        {{Fail(Op::Alloc, 1, 8)},
         "the hardware IDs of ROOT\\A\\0000 could not be read (error 0x8)"},
        {{Fail(Op::InstanceId, 1, 0x1f)}, "the instance ID of a matching device could not be read"},
        // A size asked for three times, or beyond what is believed, is not asked for again.
        {{Fail(Op::InstanceId, 1, 122, 1, 300), Fail(Op::InstanceId, 2, 122, 1, 400),
          Fail(Op::InstanceId, 3, 122, 1, 500)},
         "the instance ID of a matching device could not be read (error 0x7a)"},
        {{Fail(Op::InstanceId, 1, 122, 1, 32769)},
         "the instance ID of a matching device could not be read (error 0x7a)"},
        {{Fail(Op::NodeStatus, 1, 0x13)},
         "the node state of ROOT\\A\\0000 could not be read "
         "(CONFIGRET 0x13)\n"},
        {{Fail(Op::Bind, 1, 0x7e)},
         "the node state of ROOT\\A\\0000 could not be read (CONFIGRET "
         "0x13): CM_Get_DevNode_Status could not be loaded from the "
         "system folder (error 0x7e)"},
        {{Fail(Op::GetProperty, 2, 0x1f)}, "the config flags of ROOT\\A\\0000 could not be read"},
        {{Fail(Op::DriverKey, 1, 5)},
         "the driver key of ROOT\\A\\0000 could not be read (error 0x5)"},
        {{Fail(Op::DriverKey, 1, 234, 1, 600), Fail(Op::DriverKey, 2, 234, 1, 700),
          Fail(Op::DriverKey, 3, 234, 1, 800)},
         "the driver key of ROOT\\A\\0000 could not be read (error 0xea)"},
        {{Fail(Op::DriverKey, 1, 234, 1, 65537)},
         "the driver key of ROOT\\A\\0000 could not be read (error 0xea)"},
        {{Fail(Op::ListFiles, 1, 5)}, " could not be searched (error 0x5)"},
        {{Fail(Op::ReadFile, 2, 0x1e)}, "oem0.inf could not be read (error 0x1e)"},
    };
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0x4)});
    Install(kIdShort);
    const std::vector<DevSim::Device> devices = DevSim::Current().devices;
    auto useWith = [&](const std::vector<DevSim::Fault>& faults) {
        UseDevices(devices);
        for (const DevSim::Fault& fault : faults) {
            DevSim::AddFault(fault);
        }
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        for (const char16_t* option : {u"", u"--detect", u"--json"}) {
            useWith(c.faults);
            CheckResult result = Verify(kIdShort, option);
            EXPECT_EQ(result.exitCode, 3);
            EXPECT_EQ(result.out, u"");
            EXPECT_NE(Narrow(result.err).find(c.reason), std::string::npos) << Narrow(result.err);
        }
    }
    // Twice a larger size, up to the largest believed, is still read.
    useWith({Fail(Op::InstanceId, 1, 122, 1, 300), Fail(Op::InstanceId, 2, 122, 1, 32768),
             Fail(Op::DriverKey, 1, 234, 1, 600), Fail(Op::DriverKey, 2, 234, 1, 65536)});
    EXPECT_EQ(Verify(kIdShort).exitCode, 0);
    // The INF itself cannot be read: the state is unknown, not the command line wrong.
    useWith({Fail(Op::ReadFile, 1, 5)});
    EXPECT_EQ(Verify(kIdShort).exitCode, 3);
}

TEST_F(CheckTest, NotesWhatTheRunWillMeet) {
    UseDevices({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true),
                MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, std::nullopt)});
    const std::string package = "package for NTamd64: will install here\n" + CatalogLines();
    auto driver = [](const char* device) {
        return "  " + std::string(device) +
               ": driver \"Example USB Sample Device\", install section PkgInstall, matched "
               "USB\\VID_1234&PID_5678\n";
    };
    // The lookup sees the device present, but its node is gone.
    DevSim::AddFault(Fail(Op::NodeStatus, 1, 13, 0));
    EXPECT_EQ(Narrow(Check({u"plan", kIdShort, inf_}).out),
              Header("plan") + package + driver("ROOT\\PRESENT\\0000") + driver("ROOT\\A\\0000") +
                  "1. install the driver on 0 present devices\n"
                  "2. mark 2 absent devices for reinstallation:\n"
                  "     ROOT\\PRESENT\\0000  config flags now 0x00000000\n"
                  "     ROOT\\A\\0000  no config flags\n"
                  "note: the lookup of present devices finds a match, but no matching device's "
                  "node exists now: Installer will try a driver update rather than stage the INF\n"
                  "note: ROOT\\A\\0000 has no config flag word: marking it fails and stops the "
                  "marking there\n");

    // The lookup sees no device present, but their nodes answer.
    const std::string stage = "1. stage the INF (no present device matches)\n2. nothing to mark\n";
    const std::string gone = driver("ROOT\\GONE\\0000");
    for (size_t count : {1, 2}) {
        UseDevices(std::vector<DevSim::Device>(
            count, MakeDevice(u"ROOT\\GONE\\0000", {kIdShort}, false, 0x4)));
        DevSim::AddFault(Fail(Op::NodeStatus, 1, 0, 0));
        EXPECT_EQ(Narrow(Check({u"plan", kIdShort, inf_}).out),
                  Header("plan") + package + gone + (count == 2 ? gone : "") + stage +
                      "note: the lookup of present devices finds no match, but " +
                      (count == 1 ? "1 matching device has" : "2 matching devices have") +
                      " a node now: the INF is staged, not installed\n");
    }

    setenv("INSTALLER_SIMULATE_WOW64", "1", 1);
    EXPECT_EQ(Narrow(Check({u"plan", kIdShort, inf_}).out),
              Header("plan") + package + gone + gone + stage +
                  "note: this 32-bit program runs on 64-bit Windows, where the 32-bit Installer "
                  "cannot install or stage drivers (ERROR_IN_WOW64): use the x86-64 programs\n"
                  "note: the lookup of present devices finds no match, but 2 matching devices "
                  "have a node now: the INF is staged, not installed\n");
    EXPECT_EQ(Narrow(Verify(kIdShort).out),
              Header("verify") + "INF staged: FAILED, no INF in " + StoreName() +
                  " holds the INF's bytes\n"
                  "present devices use the INF: FAILED, 2 of 2 devices failing\n"
                  "  ROOT\\GONE\\0000: has no driver from an INF\n"
                  "  ROOT\\GONE\\0000: has no driver from an INF\n"
                  "absent devices marked for reinstallation: ok, no absent device\n"
                  "result: not verified\n"
                  "note: this 32-bit program runs on 64-bit Windows, where only the x86-64 "
                  "Installer can install drivers; the state is checked all the same\n");
}

// What counts as the package's staged copy is the INF with its catalog. Version 2 of the package
// has the same INF, a new driver file and a new catalog: while its installation fails, the copy
// staged for version 1 is not version 2's, since the catalog the store keeps with it is not
// version 2's; once it succeeds, version 2 is staged beside version 1 and verified with its own.
TEST_F(CheckTest, TheCopyOfAnotherVersionWithTheSameInfIsNotThePackages) {
    UseDevices({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true)});
    Install(kIdShort);
    const std::filesystem::path v2 = std::filesystem::path(Narrow(inf_)).parent_path() / "v2";
    std::filesystem::create_directories(v2 / "bin");
    std::filesystem::copy_file(Narrow(inf_), v2 / "sample.inf");
    std::ofstream(v2 / "bin" / "pkg.sys") << "driver of version 2\n";
    ASSERT_TRUE(SigningTools::WriteCatalog(
                    (v2 / "pkg.cat").string(),
                    {(v2 / "sample.inf").string(), (v2 / "bin" / "pkg.sys").string()}) &&
                SigningTools::SignCatalog((v2 / "pkg.cat").string()));
    const std::u16string inf2 = Text::Utf8ToUtf16((v2 / "sample.inf").string());
    DevSim::AddFault({Op::Update, 1, 5, 0});
    DevSim::AddFault({Op::Copy, 1, 5, 0});
    RunInstallation(kIdShort, inf2.c_str());
    const std::string head = "verify for hardware ID \"usb\\vid_1234&pid_5678\" (given as "
                             "\"USB\\VID_1234&PID_5678\"), " +
                             std::string(kPrefixRule ? "prefix" : "equality") + " rule, INF \"";
    CheckResult result = Check({u"verify", kIdShort, inf2});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(Narrow(result.out),
              head + Narrow(inf2) + "\"\nINF staged: FAILED, " + StoreName() +
                  "\\oem0.inf holds the INF's bytes, but is another package: the catalog pkg.cat "
                  "the system keeps with it is not the package's\n"
                  "present devices use the INF: FAILED, 1 of 1 device failing\n"
                  "  ROOT\\PRESENT\\0000: uses oem0.inf, and the INF is not staged\n"
                  "absent devices marked for reinstallation: ok, no absent device\n"
                  "result: not verified\n");
    EXPECT_EQ(Check({u"verify", u"--detect", kIdShort, inf2}).out, u"");
    EXPECT_EQ(Verify(kIdShort, u"--detect").out,
              u"verified: usb\\vid_1234&pid_5678 with oem0.inf\n");

    DevSim::Current().faults.clear();
    UseDevices(DevSim::Current().devices);
    RunInstallation(kIdShort, inf2.c_str());
    EXPECT_EQ(Check({u"verify", u"--detect", kIdShort, inf2}).out,
              u"verified: usb\\vid_1234&pid_5678 with oem1.inf\n");
    EXPECT_EQ(Verify(kIdShort).exitCode, 1); // its device runs version 2 now
}

// The INF's own name counts as a published one only under Wine, which publishes a copy under it:
// on Windows an inbox INF (keyboard.inf) has its own name as its original name, and a byte-for-
// byte copy of it given as the INF is not the package's.
TEST_F(CheckTest, AnInfUnderItsOwnNameCountsOnlyUnderWine) {
    UseDevices({MakeDevice(u"ROOT\\OTHER\\0000", {kIdOther}, true)});
    const std::u16string keyboard = MakeInf("keyboard.inf");
    std::filesystem::create_directories(StoreDir());
    std::filesystem::copy_file(Narrow(keyboard), StoreDir() / "keyboard.inf");
    // Wine's catalog for it, as its SetupCopyOEMInf keeps it.
    std::ifstream catalog(std::filesystem::path(Narrow(keyboard)).parent_path() / "pkg.cat",
                          std::ios::binary);
    DevSim::Current().packages.push_back(
        {u"keyboard.inf", u"pkg.cat",
         std::vector<uint8_t>(std::istreambuf_iterator<char>(catalog), {})});
    for (const bool wine : {false, true}) {
        SCOPED_TRACE(wine ? "Wine" : "Windows");
        DevSim::Current().wine = wine;
        const CheckResult result = Check({u"verify", kIdShort, keyboard});
        EXPECT_EQ(result.exitCode, wine ? 0 : 1);
        EXPECT_EQ(
            Narrow(result.out),
            "verify for hardware ID \"usb\\vid_1234&pid_5678\" (given as "
            "\"USB\\VID_1234&PID_5678\"), " +
                std::string(kPrefixRule ? "prefix" : "equality") + " rule, INF \"" +
                Narrow(keyboard) + "\"\n" +
                (wine ? "INF staged: ok, " + StoreName() + "\\keyboard.inf holds the INF's bytes\n"
                      : "INF staged: FAILED, no INF in " + StoreName() +
                            " holds the INF's bytes\n") +
                "the INF's models name the hardware ID: ok, a driver for NTamd64\n"
                "present devices use the INF: ok, no present device\n"
                "absent devices marked for reinstallation: ok, no absent device\n"
                "result: " +
                (wine ? "verified\n" : "not verified\n"));
    }
}

// The signature cases of tests/signing/make-packages.sh, on a machine that trusts the test root
// and its publisher: plan's verdict and every reason, whole; then the same packages where the
// test root passes the Microsoft-root policy, and where nothing is trusted.
TEST_F(CheckTest, PlanTellsWhetherWindowsTrustsTheCatalogsSignature) {
    using SigningTools::Quote;
    const std::string pki = SigningTools::TestPki();
    ASSERT_FALSE(pki.empty());
    const std::string cases = (dir_ / "cases").string();
    ASSERT_EQ(std::system(("bash " + SigningTools::Script("make-packages.sh") + " " + Quote(cases) +
                           " " + Quote(pki) + " >/dev/null")
                              .c_str()),
              0);
    UseDevices({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true, 0x0)});
    const std::string named = "InstallerCheck: the catalog sample.cat (CatalogFile)";
    const auto notPublisher = [&](const char* name, const std::string& cn) {
        return named + "'s signer " + cn + " (" + SigningTools::Thumbprints(name)[0] +
               ") is not a trusted publisher (TrustedPublisher): an unattended install fails\n";
    };
    const auto notMember = [&](const std::string& folder, const std::string& file,
                               const std::string& path) {
        return "InstallerCheck: the file " + file +
               " is not in the catalog sample.cat (CatalogFile): its SHA256 hash " +
               SigningTools::Tag(cases + "/" + folder + "/" + path) + " is no member's\n";
    };
    const auto plan = [&](const std::string& folder) {
        return Check({u"plan", kIdShort, Text::Utf8ToUtf16(cases + "/" + folder + "/sample.inf")});
    };
    const std::string untrusted = "Example Untrusted Signer";
    const std::string expired = "Example Devices Expired Signer";
    const std::string fake = "Microsoft Windows Hardware Compatibility Publisher";
    const struct {
        const char* name;
        std::string err;
    } table[] = {
        {"good-sha256", ""},
        {"good-sha1", ""},
        {"image-signed-after", ""},
        {"image-changed", notMember("image-changed", "bin\\sample.sys", "bin/sample.sys")},
        {"inf-changed", notMember("inf-changed", "sample.inf", "sample.inf")},
        {"file-not-in-catalog", notMember("file-not-in-catalog", "sample.dat", "sample.dat")},
        {"untrusted-root", named + "'s signer " + untrusted +
                               " chains to Example Untrusted Root, which is not a trusted root "
                               "(Root)\n" +
                               notPublisher("untrusted-signer", untrusted)},
        {"catalog-content-changed", named + " was changed after it was signed: its content's "
                                            "hash is not the one its signer signed\n"},
        {"unsigned-catalog", named + " is not signed\n"},
        {"expired-signer", named + "'s signer " + expired +
                               " has a chain to Example Test Root that holds a certificate that "
                               "is expired or not yet valid\n" +
                               notPublisher("expired-signer", expired)},
        {"untrusted-publisher",
         notPublisher("second-publisher", "Example Devices Second Publisher")},
        {"fake-microsoft", notPublisher("hardware-publisher", fake)},
        {"not-a-catalog", named + " is not a catalog: it is not a PKCS#7 message\n"},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.name);
        const CheckResult result = plan(c.name);
        EXPECT_EQ(result.exitCode, c.err.empty() ? 0 : 1);
        EXPECT_EQ(Narrow(result.err), c.err);
    }
    // Whole reports: the signature line says who signed and whether Windows trusts them.
    const auto report = [&](const char* folder, const std::string& catalog, bool will) {
        inf_ = Text::Utf8ToUtf16(cases + "/" + folder + "/sample.inf");
        return Header("plan") + "package for NTamd64: will " + (will ? "" : "not ") +
               "install here\n  catalog: sample.cat (CatalogFile), members: " + catalog +
               "\n  ROOT\\PRESENT\\0000: driver \"Example USB Sample Device\", install section "
               "SampleInstall, matched USB\\VID_1234&PID_5678\n";
    };
    const std::string steps = "1. install the driver on 1 present device:\n"
                              "     ROOT\\PRESENT\\0000\n2. nothing to mark\n";
    const auto reasons = [](const std::string& err) {
        std::string out;
        for (size_t at = 0; at < err.size();) {
            const size_t end = err.find('\n', at);
            out += "  reason: " + err.substr(at + 16, end - at - 16) + "\n";
            at = end + 1;
        }
        return out;
    };
    EXPECT_EQ(Narrow(plan("untrusted-root").out),
              report("untrusted-root",
                     "checked (SHA256)\n  signature: signer \"" + untrusted + "\" (SHA-1 " +
                         SigningTools::Thumbprints("untrusted-signer")[0] +
                         "), root \"Example Untrusted Root\", publisher not trusted",
                     false) +
                  reasons(table[6].err) + steps);
    EXPECT_EQ(Narrow(plan("unsigned-catalog").out),
              report("unsigned-catalog", "checked (SHA256)\n  signature: none", false) +
                  reasons(table[8].err) + steps);
    EXPECT_EQ(Narrow(plan("not-a-catalog").out),
              report("not-a-catalog", "not checked\n  signature: not read", false) +
                  reasons(table[12].err) + steps);

    // Where the test root is Microsoft's, a signer with the hardware-driver usage needs no
    // trusted publisher; one with code signing alone still does.
    DevSim::Current().microsoftRoots = {pki + "root.pem"};
    DevSim::Current().trustedPublishers.clear();
    CheckResult result = plan("fake-microsoft");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Narrow(result.out),
              report("fake-microsoft",
                     "checked (SHA256)\n  signature: signer \"" + fake + "\" (SHA-1 " +
                         SigningTools::Thumbprints("hardware-publisher")[0] +
                         "), root \"Example Test Root\", signed by Microsoft for hardware",
                     true) +
                  steps);
    result = plan("good-sha256");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(Narrow(result.err), notPublisher("publisher", "Example Devices Test Publisher"));

    // A machine that trusts nothing.
    DevSim::Current().microsoftRoots.clear();
    DevSim::Current().roots.clear();
    result = plan("good-sha256");
    EXPECT_EQ(Narrow(result.err),
              named +
                  "'s signer Example Devices Test Publisher has an incomplete chain: no issuer "
                  "is found above Example Devices Test Publisher\n" +
                  notPublisher("publisher", "Example Devices Test Publisher"));
}

} // namespace
