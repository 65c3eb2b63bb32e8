// InstallerRemove against the simulated machine, after a real run of the installation: each case
// once and each failing read or removal, with what InstallerCheck's verify says afterwards on the
// same machine.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RemoveTestSupport.h"

using DevSim::MakeDevice;
using DevSim::Op;

namespace {

DevSim::Device Busy() {
    DevSim::Device device = MakeDevice(u"ROOT\\BUSY\\0000", {kIdShort}, true, 0x4);
    device.stoppable = false;
    return device;
}

// How a case's machine is set up: the installation run on it, a second copy of the staged INF (as
// Wine can leave one under the INF's own name), a system without DiUninstallDriverW.
constexpr unsigned kInstalled = 1;
constexpr unsigned kSecondCopy = 2;
constexpr unsigned kNoDiUninstallDriver = 4;

// Each case once: the exit code, the whole report, what is left in the store and on the devices,
// and what verify says afterwards.
TEST_F(RemoveTest, EachCaseLeavesTheStateItReportsAndVerifyAgrees) {
    struct Case {
        const char* name;
        std::vector<DevSim::Device> devices;
        unsigned setup;
        std::vector<std::u16string> options;
        int exitCode;
        std::string report; // after the header; COPY and COPY1 stand for the copy lines' starts
        std::vector<DevSim::Fault> faults = {};
    };
    const DevSim::Device present = MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true, 0x4);
    const DevSim::Device absent = MakeDevice(u"ROOT\\ABSENT\\0000", {kIdOther, kIdShort}, false);
    // Matches, but never had the package: never listed.
    const DevSim::Device spare = MakeDevice(u"ROOT\\SPARE\\0000", {kIdShort}, false, 0x24);
    const DevSim::Device other = MakeDevice(u"ROOT\\OTHER\\0000", {kIdOther}, true);
    const std::string gone = "still names it, though it is gone";
    const std::string notTried = "FAILED, still staged: not tried: a present device uses the "
                                 "package, and without DiUninstallDriverW only --force removes a "
                                 "copy in use\n";
    const std::string deleted = " still names oem0.inf, deleted under it: it keeps its driver "
                                "until another is installed on it\n";
    const std::vector<Case> cases = {
        {"nothing staged",
         {present},
         0,
         {},
         0,
         "no copy in " + std::filesystem::absolute(StoreDir()).lexically_normal().string() +
             " holds the INF's bytes\nresult: nothing to remove\n"},
        {"staged only",
         {other},
         kInstalled,
         {},
         0,
         "COPY removed by DiUninstallDriverW\nresult: removed\n"},
        {"staged only, without DiUninstallDriverW",
         {other},
         kInstalled | kNoDiUninstallDriver,
         {},
         0,
         "COPY removed by SetupUninstallOEMInfW\nresult: removed\n"},
        {"used by a present and an absent device",
         {spare, present, absent},
         kInstalled,
         {},
         0,
         "COPY removed by DiUninstallDriverW\n"
         "  ROOT\\PRESENT\\0000: present, used it, now has no driver from an INF\n"
         "  ROOT\\ABSENT\\0000: absent, used it, now has no driver from an INF\nresult: removed\n"},
        {"two copies",
         {present},
         kInstalled | kSecondCopy,
         {},
         0,
         "COPY removed by DiUninstallDriverW\n"
         "  ROOT\\PRESENT\\0000: present, used it, now has no driver from an INF\n"
         "COPY1 removed by DiUninstallDriverW\nresult: removed\n"},
        // Neither copy is tried while the device uses one.
        {"two copies in use, no DiUninstallDriverW, no --force",
         {present},
         kInstalled | kSecondCopy | kNoDiUninstallDriver,
         {},
         1,
         "COPY " + notTried + "  ROOT\\PRESENT\\0000: present, still uses it\nCOPY1 " + notTried +
             "result: not removed\n"},
        {"in use, no DiUninstallDriverW, --force",
         {present},
         kInstalled | kNoDiUninstallDriver,
         {u"--force"},
         0,
         "COPY removed by SetupUninstallOEMInfW\n  ROOT\\PRESENT\\0000: present, " + gone +
             "\nnote: ROOT\\PRESENT\\0000" + deleted + "result: removed\n"},
        // The node's answer afterwards leaves out the restart bit: the call's word alone counts.
        {"the call asks for a restart",
         {Busy()},
         kInstalled,
         {},
         4,
         "COPY removed by DiUninstallDriverW, which asks for a restart\n"
         "  ROOT\\BUSY\\0000: present, used it, now has no driver from an INF\n"
         "result: removed, restart needed\n",
         {Fail(Op::NodeStatus, 3, 0)}},
        {"a device asks for a restart",
         {Busy()},
         kInstalled | kNoDiUninstallDriver,
         {u"--force"},
         4,
         "COPY removed by SetupUninstallOEMInfW\n  ROOT\\BUSY\\0000: present, " + gone +
             ", restart needed\nnote: ROOT\\BUSY\\0000" + deleted +
             "result: removed, restart needed\n"},
        // DiUninstallDriverW is there and fails with 126 itself: its answer, never a reason to
        // delete the package under the device with SetupUninstallOEMInfW.
        {"DiUninstallDriverW fails with 126, --force",
         {present},
         kInstalled,
         {u"--force"},
         1,
         "COPY FAILED, still staged: DiUninstallDriverW failed (error 0x7e)\n"
         "  ROOT\\PRESENT\\0000: present, still uses it\nresult: not removed\n",
         {Fail(Op::Uninstall, 1, 0x7e)}},
        // The device's hardware IDs cannot be had at first (it matches nothing): as far as the
        // removal can tell, a device outside the ID uses the package, which is kept.
        {"a device that does not match at first",
         {present},
         kInstalled | kNoDiUninstallDriver,
         {},
         1,
         "COPY FAILED, still staged: not tried: a device outside the requested ID uses it, and "
         "only --force takes it off such a device\n  ROOT\\PRESENT\\0000: present, outside the "
         "requested ID, still uses it\nresult: not removed\n",
         {Fail(Op::GetProperty, 1, 13)}},
        // The device's hardware IDs are gone when the state is read again: it is still followed.
        {"a device that no longer matches afterwards",
         {present},
         kInstalled,
         {},
         0,
         "COPY removed by DiUninstallDriverW\n  ROOT\\PRESENT\\0000: present, used it, now has no "
         "driver from an INF\nresult: removed\n",
         {Fail(Op::GetProperty, 3, 13)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if ((c.setup & kInstalled) != 0) {
            Installed(c.devices);
        } else {
            UseDevices(c.devices);
        }
        for (DevSim::Device& device : DevSim::Current().devices) {
            if (device.instanceId == absent.instanceId) {
                device.driver = u"oem0.inf"; // it had the driver before it was unplugged
            }
        }
        if ((c.setup & kSecondCopy) != 0) {
            // No .pnf: its original name is its own, as Wine answers for every copy. The store
            // keeps the package's catalog with it.
            std::filesystem::copy_file(StoreDir() / "oem0.inf", StoreDir() / "oem1.inf");
            DevSim::StagedPackage second = DevSim::Current().packages.at(0);
            second.name = u"oem1.inf";
            DevSim::Current().packages.push_back(second);
        }
        DevSim::Current().hasUninstallDriver = (c.setup & kNoDiUninstallDriver) == 0;
        for (const DevSim::Fault& fault : c.faults) {
            DevSim::AddFault(fault);
        }
        const std::vector<DevSim::Device> before = DevSim::Current().devices;
        const CommandResult result = Remove(c.options);
        EXPECT_EQ(result.exitCode, c.exitCode);
        std::string report = c.report;
        for (const auto& [mark, name] : {std::pair{"COPY1 ", "oem1.inf"}, {"COPY ", "oem0.inf"}}) {
            for (size_t at = report.find(mark); at != std::string::npos; at = report.find(mark)) {
                report.replace(at, std::string(mark).size(), Copy(name));
            }
        }
        EXPECT_EQ(Narrow(result.out), Header() + report);
        EXPECT_EQ(result.err, u"");
        // What the report says is what the machine holds: no copy left unless not removed, a
        // driver gone where it says "now has no driver", and the absent device's reinstall mark
        // as it was.
        EXPECT_EQ(Store().empty(), c.exitCode != 1);
        for (size_t i = 0; i < before.size(); ++i) {
            const std::string id = Narrow(before[i].instanceId);
            if (report.find(id + ": used it, no longer found") != std::string::npos) {
                continue; // the report says nothing of its driver
            }
            const bool cleared =
                report.find(id + ": present, used it, now has no driver") != std::string::npos ||
                report.find(id + ": absent, used it, now has no driver") != std::string::npos;
            EXPECT_EQ(Narrow(Device(i).driver), cleared ? "" : Narrow(before[i].driver)) << i;
            EXPECT_EQ(Device(i).configFlags, before[i].configFlags) << i;
        }
        // Removed, or nothing to remove: verify fails and detection says "not installed". Not
        // removed: the state is as the installation left it.
        EXPECT_EQ(Verify(kIdShort, u"--json").exitCode, c.exitCode == 1 ? 0 : 1);
        EXPECT_EQ(Verify(kIdShort, u"--detect").out.empty(), c.exitCode != 1);
        std::filesystem::remove_all(StoreDir());
    }
}

// Only the copies the system published for this INF are taken: neither another INF in the folder
// with the same bytes nor a copy published for another INF, whoever uses them. The latter holds
// the INF's bytes under a published name, so the report names it and the package is not removed.
TEST_F(RemoveTest, OnlyCopiesPublishedForTheInfAreTaken) {
    Installed({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true),
               MakeDevice(u"ROOT\\OTHER\\0000", {kIdOther}, true),
               MakeDevice(u"ROOT\\THIRD\\0000", {kIdOther}, false)});
    std::filesystem::copy_file(StoreDir() / "oem0.inf", StoreDir() / "other.inf");
    std::filesystem::copy_file(StoreDir() / "oem0.inf", StoreDir() / "oem1.inf");
    std::ofstream(StoreDir() / "oem1.pnf") << "third.inf\n";
    Device(1).driver = u"other.inf";
    Device(2).driver = u"oem1.inf";
    const std::string third = Copy("oem1.inf") + "FAILED, still staged: another package with the "
                                                 "INF's bytes, not removed: published for "
                                                 "third.inf\n";
    for (const char16_t* option : {u"--dry-run", u"--force"}) {
        const CommandResult result = Remove({option});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(Narrow(result.out),
                  option[2] == u'd' ? Header("dry run of remove") + Copy() +
                                          "would be removed\n  ROOT\\PRESENT\\0000: present, "
                                          "uses it\n" +
                                          third + "result: dry run, nothing changed\n"
                                    : Header() + Copy() +
                                          "removed by DiUninstallDriverW\n  ROOT\\PRESENT\\0000: "
                                          "present, used it, now has no driver from an INF\n" +
                                          third + "result: not removed\n");
    }
    EXPECT_EQ(Store(), (std::vector<std::string>{"oem1.inf", "oem1.pnf", "other.inf"}));
    EXPECT_EQ(Device(1).driver, u"other.inf");
    EXPECT_EQ(Device(2).driver, u"oem1.inf");
}

// The copy with the INF's bytes is found however the INF is named: given as the published copy
// itself (a path in the INF folder), under another name than at the installation (a link), or
// with a name that differs from it in the case of a letter beyond ASCII, which the file system
// takes as the same name. Never "nothing to remove" while a copy with its bytes stays staged.
TEST_F(RemoveTest, TheCopyIsFoundHoweverTheInfIsNamed) {
    const std::filesystem::path folder = std::filesystem::path(Narrow(inf_)).parent_path();
    const std::u16string accented = MakeInf("Écran.inf");
    std::filesystem::create_symlink("sample.inf", folder / "link.inf");
    struct Case {
        const char* name;
        std::u16string installed; // the INF the installation ran with
        std::u16string given;     // the INF given to the removal
        int exitCode;
        std::string report; // after the header; COPY stands for the copy line's start
    };
    const std::string removed = "COPY removed by DiUninstallDriverW\n  ROOT\\PRESENT\\0000: "
                                "present, used it, now has no driver from an INF\nresult: "
                                "removed\n";
    const std::vector<Case> cases = {
        {"the copy itself", inf_, Text::Utf8ToUtf16((StoreDir() / "oem0.inf").string()), 0,
         removed},
        {"a link", inf_, Text::Utf8ToUtf16((folder / "link.inf").string()), 1,
         "COPY FAILED, still staged: another package with the INF's bytes, not removed: "
         "published for sample.inf\nresult: not removed\n"},
        {"another case", accented, Text::Utf8ToUtf16((folder / "écran.inf").string()), 0, removed},
    };
    std::filesystem::copy_file(Narrow(accented), folder / "écran.inf");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseDevices({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true)});
        RunInstallation(kIdShort, c.installed.c_str());
        UseDevices(DevSim::Current().devices);
        const CommandResult result = RunRemove({kIdShort, c.given});
        EXPECT_EQ(result.exitCode, c.exitCode);
        std::string report = c.report;
        report.replace(report.find("COPY "), 5, Copy());
        EXPECT_EQ(Narrow(result.out), "remove for hardware ID \"usb\\vid_1234&pid_5678\" (given as "
                                      "\"USB\\VID_1234&PID_5678\"), " +
                                          std::string(kPrefixRule ? "prefix" : "equality") +
                                          " rule, INF \"" + Narrow(c.given) + "\"\n" + report);
        EXPECT_EQ(Store().empty(), c.exitCode == 0);
        std::filesystem::remove_all(StoreDir());
    }
}

// Another version of the package with the same INF and another catalog: the copy staged for the
// first is not the second's, and its removal names it and removes nothing. On Windows a copy
// under the INF's own name is no publication (an inbox INF such as keyboard.inf): never removed.
TEST_F(RemoveTest, AnotherVersionsCopyAndAnInboxInfAreNeverRemoved) {
    Installed({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true)});
    const std::filesystem::path v2 = std::filesystem::path(Narrow(inf_)).parent_path() / "v2";
    std::filesystem::create_directories(v2 / "bin");
    std::filesystem::copy_file(Narrow(inf_), v2 / "sample.inf");
    std::ofstream(v2 / "pkg.cat") << "catalog of version 2\n";
    std::ofstream(v2 / "bin" / "pkg.sys") << "driver of version 2\n";
    const std::u16string inf2 = Text::Utf8ToUtf16((v2 / "sample.inf").string());
    const std::string head = "remove for hardware ID \"usb\\vid_1234&pid_5678\" (given as "
                             "\"USB\\VID_1234&PID_5678\"), " +
                             std::string(kPrefixRule ? "prefix" : "equality") + " rule, INF \"";
    CommandResult result = RunRemove({u"--force", kIdShort, inf2});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(Narrow(result.out),
              head + Narrow(inf2) + "\"\n" + Copy() +
                  "FAILED, still staged: another package with the INF's bytes, not removed: the "
                  "catalog pkg.cat the system keeps with it is not the package's\nresult: not "
                  "removed\n");
    EXPECT_EQ(Store(), (std::vector<std::string>{"oem0.inf", "oem0.pnf"}));
    EXPECT_EQ(Device(0).driver, u"oem0.inf");

    std::filesystem::remove_all(StoreDir());
    const std::u16string keyboard = MakeInf("keyboard.inf");
    std::filesystem::create_directories(StoreDir());
    std::filesystem::copy_file(Narrow(keyboard), StoreDir() / "keyboard.inf");
    Device(0).driver = u"keyboard.inf";
    result = RunRemove({u"--force", kIdShort, keyboard});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Narrow(result.out), head + Narrow(keyboard) + "\"\nno copy in " + StoreName() +
                                      " holds the INF's bytes\nresult: nothing to remove\n");
    EXPECT_EQ(Store(), (std::vector<std::string>{"keyboard.inf"}));
    EXPECT_EQ(Device(0).driver, u"keyboard.inf");
}

// A copy that a device outside the requested ID uses: refused without --force, in the dry run
// too, naming the device; with --force removed by DiUninstallDriverW alone, a note naming each
// such device; never deleted under it by SetupUninstallOEMInfW.
TEST_F(RemoveTest, ACopyUsedOutsideTheIdIsRemovedOnlyWithForceByDiUninstallDriverW) {
    struct Case {
        std::vector<std::u16string> options;
        bool hasUninstallDriver;
        int exitCode;
        std::string copy;  // the copy line's detail
        std::string other; // the outside device's detail
        std::string note;
    };
    const std::string refused = "FAILED, still staged: not tried: a device outside the requested "
                                "ID uses it, and only --force takes it off such a device";
    const std::string kept = "FAILED, still staged: not tried: a device outside the requested ID "
                             "uses it, and without DiUninstallDriverW it would be deleted under "
                             "that device";
    const std::string who = "note: ROOT\\OTHER\\0000, outside the requested ID, ";
    const std::vector<Case> cases = {
        {{u"--dry-run"},
         true,
         1,
         "FAILED, would stay staged: " + refused.substr(33),
         "uses it",
         ""},
        {{}, true, 1, refused, "still uses it", ""},
        {{}, false, 1, refused, "still uses it", ""},
        {{u"--dry-run", u"--force"},
         false,
         0,
         "would be removed",
         "uses it",
         who + "uses oem0.inf: DiUninstallDriverW would take the package off it too; without "
               "DiUninstallDriverW the copy is kept\n"},
        {{u"--force"},
         false,
         1,
         kept,
         "still uses it",
         who + "uses oem0.inf: kept, since without DiUninstallDriverW it would be deleted under "
               "that device\n"},
        {{u"--force"},
         true,
         0,
         "removed by DiUninstallDriverW",
         "used it, now has no driver from an INF",
         who + "used oem0.inf: DiUninstallDriverW took the package off it too\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.copy + (c.hasUninstallDriver ? "" : ", no DiUninstallDriverW"));
        Installed({MakeDevice(u"ROOT\\OTHER\\0000", {kIdOther}, true)});
        Device(0).driver = u"oem0.inf";
        DevSim::Current().hasUninstallDriver = c.hasUninstallDriver;
        const bool dry = !c.options.empty() && c.options[0] == u"--dry-run";
        const CommandResult result = Remove(c.options);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(Narrow(result.out),
                  Header(dry ? "dry run of remove" : "remove") + Copy() + c.copy +
                      "\n  ROOT\\OTHER\\0000: present, outside the requested ID, " + c.other +
                      "\n" + c.note + "result: " +
                      (dry               ? "dry run, nothing changed"
                       : c.exitCode == 0 ? "removed"
                                         : "not removed") +
                      "\n");
        EXPECT_EQ(Store().empty(), c.exitCode == 0 && !dry);
        EXPECT_EQ(Device(0).driver, Store().empty() ? u"" : u"oem0.inf");
        std::filesystem::remove_all(StoreDir());
    }
}

// Each failing read is exit 3 with its reason; each failing removal is exit 1 with the copy and
// the call's answer, including a call that reports success and removes nothing.
TEST_F(RemoveTest, EachFailingReadOrRemovalIsReported) {
    struct Case {
        std::vector<DevSim::Fault> faults;
        bool hasUninstallDriver;
        int exitCode;
        std::string says; // on stdout, or on stderr for exit 3
        std::vector<std::string> store;
    };
    const std::string unreadable = "InstallerRemove: cannot read the device state: ";
    const std::string afterOne = "InstallerRemove: cannot read the device state after 1 removal "
                                 "call: ";
    const std::vector<Case> cases = {
        {{Fail(Op::GetClassDevs, 1, 5)},
         true,
         3,
         unreadable + "no device information set could be built (error 0x5)\n",
         {"oem0.inf", "oem0.pnf"}},
        {{Fail(Op::NodeStatus, 1, 0x13)},
         true,
         3,
         unreadable + "the node state of ROOT\\GONE\\0000 could not be read (CONFIGRET 0x13)\n",
         {"oem0.inf", "oem0.pnf"}},
        {{Fail(Op::ListFiles, 1, 5)},
         true,
         3,
         " could not be searched (error 0x5)\n",
         {"oem0.inf", "oem0.pnf"}},
        {{Fail(Op::ReadFile, 2, 0x1e)},
         true,
         3,
         "oem0.inf could not be read (error 0x1e)\n",
         {"oem0.inf", "oem0.pnf"}},
        // Sets: the matching devices, every device, then both again after the removal.
        {{Fail(Op::GetClassDevs, 3, 5)},
         true,
         3,
         afterOne + "no device information set could be built (error 0x5)\n  oem0.inf: "
                    "DiUninstallDriverW reported success\n",
         {}},
        {{Fail(Op::GetClassDevs, 3, 5), Fail(Op::Uninstall, 1, 5)},
         true,
         3,
         afterOne + "no device information set could be built (error 0x5)\n  oem0.inf: "
                    "DiUninstallDriverW failed (error 0x5)\n",
         {"oem0.inf", "oem0.pnf"}},
        {{Fail(Op::ListFiles, 2, 5)}, true, 3, afterOne, {}},
        {{Fail(Op::Uninstall, 1, 5)},
         true,
         1,
         "FAILED, still staged: DiUninstallDriverW failed (error 0x5)\nresult: not removed\n",
         {"oem0.inf", "oem0.pnf"}},
        {{Fail(Op::Uninstall, 1, 0)},
         true,
         1,
         "FAILED, still staged: DiUninstallDriverW reported success but left it in place\n",
         {"oem0.inf", "oem0.pnf"}},
        // Wine's SetupUninstallOEMInfW without SUOI_FORCEDELETE.
        {{Fail(Op::UninstallInf, 1, 0)},
         false,
         1,
         "FAILED, still staged: SetupUninstallOEMInfW reported success but left it in place\n"
         "result: not removed\n",
         {"oem0.inf", "oem0.pnf"}},
        {{Fail(Op::UninstallInf, 1, 0xE000023D)},
         false,
         1,
         "FAILED, still staged: SetupUninstallOEMInfW refused: a device uses it (error "
         "0xe000023d)\n",
         {"oem0.inf", "oem0.pnf"}},
        // Binds: the node states before (1 to 3: the matching device, then every device),
        // DiUninstallDriverW (4), SetupUninstallOEMInfW (5).
        {{Fail(Op::Bind, 4, 0x7e)},
         true,
         0,
         "removed by SetupUninstallOEMInfW\nresult: removed\n",
         {}},
        {{Fail(Op::Bind, 4, 0x7e, 2)},
         true,
         1,
         "FAILED, still staged: SetupUninstallOEMInfW could not be loaded from the system folder "
         "(error 0x7e)\n",
         {"oem0.inf", "oem0.pnf"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        Installed({MakeDevice(u"ROOT\\OTHER\\0000", {kIdOther}, true),
                   MakeDevice(u"ROOT\\GONE\\0000", {kIdShort}, false, 0x4)});
        DevSim::Current().hasUninstallDriver = c.hasUninstallDriver;
        for (const DevSim::Fault& fault : c.faults) {
            DevSim::AddFault(fault);
        }
        const CommandResult result = Remove();
        EXPECT_EQ(result.exitCode, c.exitCode);
        const std::u16string& text = c.exitCode == 3 ? result.err : result.out;
        EXPECT_NE(Narrow(text).find(c.says), std::string::npos) << Narrow(text);
        EXPECT_EQ((c.exitCode == 3 ? result.out : result.err), u"");
        EXPECT_EQ(Store(), c.store);
        std::filesystem::remove_all(StoreDir());
    }
    // Nothing removed yet when the state after cannot be read.
    Installed({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true)});
    DevSim::Current().hasUninstallDriver = false;
    DevSim::AddFault(Fail(Op::ListFiles, 2, 5));
    EXPECT_EQ(Narrow(Remove().err),
              "InstallerRemove: cannot read the device state after 0 removal calls: the INF "
              "folder " +
                  std::filesystem::absolute(StoreDir()).lexically_normal().string() +
                  " could not be searched (error 0x5)\n  oem0.inf: not tried\n");
}

} // namespace
