// InstallerRemove's forms: the dry run, which changes nothing, the JSON object, and the command
// line.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Json.h"
#include "RemoveTestSupport.h"

using DevSim::MakeDevice;
using DevSim::Op;

namespace {

TEST_F(RemoveTest, DryRunListsWhatItWouldTouchAndJsonIsOneObject) {
    DevSim::Device absent = MakeDevice(u"ROOT\\ABSENT\\0000", {kIdShort}, false, 0x24);
    absent.driver = u"OEM0.INF";
    Installed({MakeDevice(u"ROOT\\PRESENT\\0000", {kIdShort}, true), absent});
    const std::vector<DevSim::Device> before = DevSim::Current().devices;
    const uint32_t changes = StateChangingCalls();
    CommandResult dry = Remove({u"--dry-run"});
    EXPECT_EQ(dry.exitCode, 0);
    EXPECT_EQ(Narrow(dry.out), Header("dry run of remove") + Copy() +
                                   "would be removed\n  ROOT\\PRESENT\\0000: present, uses it\n"
                                   "  ROOT\\ABSENT\\0000: absent, uses it\n"
                                   "result: dry run, nothing changed\n");
    EXPECT_EQ(StateChangingCalls(), changes);
    EXPECT_EQ(DevSim::Current().devices, before);
    EXPECT_EQ(Store(), (std::vector<std::string>{"oem0.inf", "oem0.pnf"}));
    setenv("INSTALLER_SIMULATE_WOW64", "1", 1);
    EXPECT_NE(Narrow(Remove({u"--dry-run"}).out)
                  .find("\nnote: this 32-bit program runs on 64-bit Windows, where only an x86-64 "
                        "program can remove drivers (ERROR_IN_WOW64): use the x86-64 "
                        "InstallerRemove\nresult: "),
              std::string::npos);
    unsetenv("INSTALLER_SIMULATE_WOW64");

    const std::string folder = Narrow(JsonString(
        Text::Utf8ToUtf16(std::filesystem::absolute(StoreDir()).lexically_normal().string())));
    const std::string request = "\"hardwareId\":\"usb\\\\vid_1234&pid_5678\",\"requestedId\":"
                                "\"USB\\\\VID_1234&PID_5678\",\"rule\":\"" +
                                std::string(kPrefixRule ? "prefix" : "equality") +
                                "\",\"inf\":" + Narrow(JsonString(inf_)) +
                                ",\"infFolder\":" + folder;
    EXPECT_EQ(
        Narrow(Remove({u"--json", u"--dry-run"}).out),
        "{\"command\":\"remove\",\"dryRun\":true,\"force\":false," + request +
            ",\"copies\":[{\"name\":\"oem0.inf\",\"call\":null,\"error\":0,\"staged\":true,"
            "\"detail\":\"would be removed\",\"devices\":[{\"instanceId\":\"ROOT\\\\PRESENT"
            "\\\\0000\",\"outside\":false,\"present\":true,\"driverBefore\":\"oem0.inf\","
            "\"driverAfter\":"
            "\"oem0.inf\",\"restartRequired\":false,\"ok\":true,\"detail\":\"present, uses "
            "it\"},{\"instanceId\":\"ROOT\\\\ABSENT\\\\0000\",\"outside\":false,\"present\":false,"
            "\"driverBefore\":\"OEM0.INF\",\"driverAfter\":\"OEM0.INF\",\"restartRequired\""
            ":false,\"ok\":true,\"detail\":\"absent, uses "
            "it\"}]}],\"otherPackages\":[],\"notes\":[],"
            "\"restartRequired\":false,\"result\":\"dry run, nothing changed\"}\n");
    EXPECT_EQ(StateChangingCalls(), changes);

    DevSim::Current().hasUninstallDriver = false;
    CommandResult held = Remove({u"--json"});
    EXPECT_EQ(held.exitCode, 1);
    EXPECT_TRUE(Has(held, "\"ok\":false,\"detail\":\"present, still uses it\"}"))
        << Narrow(held.out);
    CommandResult removed = Remove({u"--force", u"--json", u"--"});
    EXPECT_EQ(removed.exitCode, 0);
    EXPECT_EQ(
        Narrow(removed.out),
        "{\"command\":\"remove\",\"dryRun\":false,\"force\":true," + request +
            ",\"copies\":[{\"name\":\"oem0.inf\",\"call\":\"SetupUninstallOEMInfW\",\"error\":"
            "0,\"staged\":false,\"detail\":\"removed by SetupUninstallOEMInfW\",\"devices\":["
            "{\"instanceId\":\"ROOT\\\\PRESENT\\\\0000\",\"outside\":false,\"present\":true,"
            "\"driverBefore\":"
            "\"oem0.inf\",\"driverAfter\":\"oem0.inf\",\"restartRequired\":false,\"ok\":true,"
            "\"detail\":\"present, still names it, though it is gone\"},{\"instanceId\":"
            "\"ROOT\\\\ABSENT\\\\0000\",\"outside\":false,\"present\":false,\"driverBefore\":"
            "\"OEM0.INF\","
            "\"driverAfter\":\"OEM0.INF\",\"restartRequired\":false,\"ok\":true,\"detail\":"
            "\"absent, still names it, though it is "
            "gone\"}]}],\"otherPackages\":[],\"notes\":[\"ROOT\\\\PRESENT"
            "\\\\0000 still names oem0.inf, deleted under it: it keeps its driver until "
            "another is installed on it\"],\"restartRequired\":false,\"result\":\"removed"
            "\"}\n");
}

TEST_F(RemoveTest, AWrongCommandLineIsAUsageErrorAndReadsNoDevice) {
    const std::string usage =
        "usage: InstallerRemove [--dry-run] [--json] [--force] [--] <hardware ID> <INF full path>\n"
        "Removes from the driver store every copy the system published for the INF given, with\n"
        "exactly its bytes, and takes it off the devices that use it, then reads the state again.\n"
        "--dry-run lists what would be removed and changes nothing. --force removes a copy that a\n"
        "device uses where the system lacks DiUninstallDriverW, and one that a device outside the\n"
        "hardware ID uses where DiUninstallDriverW takes it off that device.\n"
        "exit codes: 0 removed (or nothing to remove), 1 not removed, 2 wrong command line, 3 the\n"
        "device state could not be read, 4 removed but a restart is needed to finish.\n";
    const std::u16string empty = Text::Utf8ToUtf16((dir_ / "empty.inf").string());
    const std::u16string fifo = Text::Utf8ToUtf16((dir_ / "fifo.inf").string());
    const std::vector<std::pair<std::vector<std::u16string>, std::string>> wrong = {
        {{}, "expected a hardware ID and an INF full path"},
        {{kIdShort}, "expected a hardware ID and an INF full path"},
        {{kIdShort, inf_, u"extra"}, "expected a hardware ID and an INF full path"},
        {{u"--quiet", kIdShort, inf_}, "unknown option \"--quiet\""},
        {{u"--force", u"--force", kIdShort, inf_}, "--force is given twice"},
        {{u"--dry-run", u"--dry-run", kIdShort, inf_}, "--dry-run is given twice"},
        {{u"--json", u"--json", kIdShort, inf_}, "--json is given twice"},
        {{u"", inf_}, "the hardware ID is empty"},
        {{kIdShort, u"sample.inf"}, "the INF \"sample.inf\" is not a full path"},
        // Every empty INF holds the bytes of an empty INF; a FIFO is never waited on.
        {{kIdShort, empty}, "the INF \"" + Narrow(empty) + "\" is empty"},
        {{kIdShort, fifo}, "the INF \"" + Narrow(fifo) + "\" is not a plain file"},
    };
    std::ofstream(Narrow(empty)).close();
    ASSERT_EQ(mkfifo(Narrow(fifo).c_str(), 0600), 0);
    for (const auto& [arguments, problem] : wrong) {
        const CommandResult result = RunRemove(arguments);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.out, u"");
        EXPECT_EQ(Narrow(result.err), "InstallerRemove: " + problem + "\n" + usage);
    }
    EXPECT_EQ(DevSim::Calls(Op::GetClassDevs), 0u);
    const CommandResult help = RunRemove({u"/?"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(Narrow(help.out), usage);
    // "--" ends the options, so an ID may begin with dashes; the INF that cannot be read is an
    // unreadable state, not a wrong command line.
    EXPECT_EQ(RunRemove({u"--", u"--odd", inf_}).exitCode, 0);
    UseDevices({});
    DevSim::AddFault(Fail(Op::ReadFile, 1, 5));
    EXPECT_EQ(Remove().exitCode, 3);
}

} // namespace
