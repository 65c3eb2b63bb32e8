// The deploy program as Deploy.cmd starts it: RunDeploy on a package folder of real files, with
// shell scripts in place of the programs it runs, through the deploy platform's host stand-ins.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Deploy.h"
#include "DeployCommandLine.h"
#include "DeployKeep.h"
#include "DeployPlatform.h"
#include "DeployPlatformHost.h"
#include "DeployRecord.h"
#include "DeployResult.h"
#include "DeviceSimulator.h"
#include "SigningTools.h"
#include "Utf8.h"

namespace fs = std::filesystem;

namespace {

using Text::Utf8ToUtf16;

// The worked example of the trace: "             Sample(0007) : uRet = d" as the log holds it.
const std::string kScrambledRecord = "             \x93\xA1\xAD\xB0\xAC\xA5\x68\x70\x70\x70\x77"
                                     "\x69\x20\x7A\x20\xB5\x92\xA5\xB4\x20\x7D\x20\xA4\r\n";
const std::string kUsage = "Usage: Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log "
                           "<file>] [/nocheck] [/trustpublisher <thumbprint>] <hardware ID> <INF "
                           "path>\n"
                           "Quote each argument, for example: Deploy.cmd "
                           "\"USB\\VID_1234&PID_5678\" \"C:\\Drivers\\device.inf\"\n";

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(DeployCommandLine, QuotesForProgramsAndSplitsAsBatchFilesDo) {
    const std::vector<std::pair<std::u16string, std::u16string>> quoted = {
        {u"USB\\VID_1234&PID_5678", u"USB\\VID_1234&PID_5678"},
        {u"", u"\"\""},
        {u"C:\\Program Files\\x.inf", u"\"C:\\Program Files\\x.inf\""},
        {u"C:\\kept dir\\", u"\"C:\\kept dir\\\\\""},
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"a\\\\\"b c", u"\"a\\\\\\\\\\\"b c\""},
    };
    for (const auto& [argument, expected] : quoted) {
        EXPECT_EQ(QuoteArgument(argument), expected) << Text::Utf16ToUtf8(argument);
    }
    const std::vector<std::pair<std::u16string, std::vector<std::u16string>>> split = {
        {u"\"C:\\pkg dir\\x64\\InstallerDeploy.exe\"  \"USB\\VID&1\" \"C:\\dir\\\"",
         {u"USB\\VID&1", u"C:\\dir\\"}},
        {u"InstallerDeploy.exe /keep \"C:\\kept, dir\\\" a,b;c=d\t\"\"",
         {u"/keep", u"C:\\kept, dir\\", u"a", u"b", u"c", u"d", u""}},
        {u"x.exe a\"b c\"d \"open", {u"ab cd", u"open"}},
        {u"\"x.exe\"", {}},
    };
    for (const auto& [line, words] : split) {
        EXPECT_EQ(BatchArguments(line), words) << Text::Utf16ToUtf8(line);
    }
}

TEST(DeployCommandLine, PathsAsTheDeployProgramComparesAndTrimsThem) {
    EXPECT_EQ(PackageHome(u"C:\\pkg dir\\x64\\InstallerDeploy.exe"), u"C:\\pkg dir");
    EXPECT_EQ(WithoutTrailingSeparator(u"C:\\kept\\"), u"C:\\kept");
    EXPECT_EQ(WithoutTrailingSeparator(u"C:\\"), u"C:\\");
    EXPECT_EQ(WithoutTrailingSeparator(u"/"), u"/");
    EXPECT_EQ(WithoutTrailingSeparator(u"C:"), u"C:");
    EXPECT_TRUE(SamePath(u"C:\\Kept\\x.inf", u"c:/kept/X.INF"));
    EXPECT_FALSE(SamePath(u"C:\\kept\\x.inf", u"C:\\kept\\x.inI"));
    EXPECT_FALSE(SamePath(u"C:\\kept", u"C:/kep"));
    EXPECT_FALSE(SamePath(u"C:\\kept\\x", u"C:\\kept_x"));
}

TEST(DeployCommandLine, SwitchesComeFirstThenExactlyTheTwoArguments) {
    const DeployRequest full =
        ParseDeployArguments({u"/KEEP", u"C:\\k", u"/Uninstall", u"/force", u"/log", u"C:\\l.log",
                              u"/nocheck", u"ID", u"x.inf"});
    EXPECT_TRUE(full.complete && full.uninstall && full.force && full.noCheck);
    EXPECT_EQ(full.keep + u"|" + full.log + u"|" + full.id + u"|" + full.inf,
              u"C:\\k|C:\\l.log|ID|x.inf");
    const DeployRequest trusting =
        ParseDeployArguments({u"/nocheck", u"/TrustPublisher", u"ab 12", u"ID", u"x.inf"});
    EXPECT_TRUE(trusting.complete && trusting.noCheck && !trusting.uninstall);
    EXPECT_EQ(trusting.trustPublisher, u"ab 12");
    for (const std::vector<std::u16string>& wrong :
         {std::vector<std::u16string>{u"ID"},
          {u"ID", u"x.inf", u"extra"},
          {u"/keep", u"C:\\k", u"ID"},
          {u"/force", u"ID", u"x.inf"},
          {u"", u"x.inf"},
          {u"ID", u"x.inf", u"/keep"},
          {u"/keep", u"", u"ID", u"x.inf"},
          {u"/log", u"", u"ID", u"x.inf"},
          {u"/nocheck"},
          {u"/log"},
          {u"/trustpublisher", u"", u"ID", u"x.inf"},
          {u"/uninstall", u"/trustpublisher", u"AB", u"ID", u"x.inf"}}) {
        EXPECT_FALSE(ParseDeployArguments(wrong).complete) << wrong.size();
    }
}

// The last program's result, and every code's meaning, from the one table.
TEST(DeployResult, EachProgramResultGivesItsCodeAndMeaning) {
    const std::vector<std::tuple<StepCode, int, const char*>> cases = {
        {{true, 0}, 0, "done and verified"},
        {{true, 4}, 3010, "done, restart needed"},
        {{true, 1}, 1603, "not done"},
        {{true, 2}, 2, "wrong command line"},
        {{true, 3}, 3, "device state unreadable"},
        {{true, 5}, 1603, "not done"},
        {{false, 2}, 1603, "not done"},
        {{false, 4}, 1603, "not done"},
    };
    for (const auto& [step, code, meaning] : cases) {
        EXPECT_EQ(DeployCodeFor(step), code) << step.started << " " << step.code;
        EXPECT_STREQ(DeployResultMeaning(code), meaning);
    }
    EXPECT_STREQ(DeployResultMeaning(1633), "platform the package has no programs for");
    EXPECT_STREQ(DeployResultMeaning(7), "unknown");
}

class DeployTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/deploy-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        programs_ = home_ + "/x64";
        fs::create_directory(programs_);
        log_ = home_ + "/Deploy.log";
        inf_ = home_ + "/device.inf";
        std::ofstream(inf_) << "[Version]\r\n";
        // Installer.exe leaves a trace and a mark that it ran.
        Program("Installer.exe", "echo \"$1 $2\" >> \"$(dirname \"$0\")/ran\"\nprintf '%s' '" +
                                     kScrambledRecord + "' > \"$(dirname \"$0\")/12091701.log\"\n");
        Program("InstallerCheck.exe", "echo \"$1 for $2\"\n");
        Program("InstallerRemove.exe", "echo \"remove $*\"\n");
        DeployPlatformHost::SetNativeArchitecture(u"AMD64");
        DeployPlatformHost::CaptureOutput(&out_, &err_);
    }
    void TearDown() override {
        unsetenv("INSTALLER_MACHINE");
        DevSim::UseMachine(DevSim::Machine{});
        DeployPlatformHost::CaptureOutput(nullptr, nullptr);
        DeployPlatformHost::SetNativeArchitecture(std::nullopt);
        fs::remove_all(home_);
    }
    // A program of the package: a shell script named as the Windows program.
    void Program(const std::string& name, const std::string& body,
                 const std::string& shell = "/bin/sh") {
        const std::string path = programs_ + "/" + name;
        std::ofstream(path) << "#!" << shell << "\n" << body;
        chmod(path.c_str(), 0755);
    }
    int Deploy(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"/log", log_});
        std::vector<std::u16string> wide;
        for (const std::string& argument : arguments) {
            wide.push_back(Utf8ToUtf16(argument));
        }
        out_.clear();
        err_.clear();
        return RunDeploy(Utf8ToUtf16(home_), wide);
    }
    // The log's records after their "==== <date> <time> <zone> " and with LF line ends.
    std::string Records() {
        static const std::regex stamp(
            "==== \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d\\d:\\d\\d ");
        return std::regex_replace(std::regex_replace(Read(log_), std::regex("\r\n"), "\n"), stamp,
                                  "==== ");
    }
    // The record's header as RunDeploy writes it for these arguments.
    std::string Header(const std::string& action, const std::string& arguments) {
        char host[256] = {};
        gethostname(host, sizeof(host) - 1);
        const char* user = getenv("USER");
        return "==== Deploy.cmd " + action + " on " + host + " as " + (user ? user : "?") +
               "\ncommand line: /log " + log_ + (arguments.empty() ? "" : " ") + arguments +
               "\narchitecture: x64\n";
    }

    std::string home_, programs_, log_, inf_, out_, err_;
};

// An install with /keep: the pre-flight, the install with its decoded trace, the verify, the
// folder emptied of what a user left in it and filled, the detection command; 4 gives 3010.
TEST_F(DeployTest, AnInstallRecordsEveryStepAndKeepsTheDetectionFiles) {
    Program("InstallerCheck.exe",
            "echo \"$1 for $2\"\n[ \"$1\" = plan ] || { printf 'oops\\nagain' >&2; exit 4; }\n");
    const std::string keep = home_ + "/kept dir";
    fs::create_directory(keep);
    std::ofstream(keep + "/planted.dll") << "x";
    // The catalogs beside the INF go along, whatever the letter case of their names.
    std::ofstream(home_ + "/Device.CAT") << "catalog";
    EXPECT_EQ(Deploy({"/keep", keep + "/", "USB\\VID&1", inf_}), 3010);

    const std::string x64 = home_ + "\\x64";
    EXPECT_EQ(out_, "plan for USB\\VID&1\nverify for USB\\VID&1\nDetection command: \"" + keep +
                        "\\InstallerCheck.exe\" verify --detect \"USB\\VID&1\" \"" + keep +
                        "\\device.inf\"\n");
    EXPECT_EQ(err_, "oops\nagain");
    EXPECT_EQ(Records(), Header("install", "/keep \"" + keep + "/\" USB\\VID&1 " + inf_) + "-- " +
                             x64 + "\\InstallerCheck.exe plan USB\\VID&1 " + inf_ +
                             "\nplan for USB\\VID&1\nexit code: 0\n"
                             "-- " +
                             x64 + "\\Installer.exe USB\\VID&1 " + inf_ +
                             "\nexit code: 0\ntrace 12091701.log:\n"
                             "             Sample(0007) : uRet = d\n"
                             "-- " +
                             x64 + "\\InstallerCheck.exe verify USB\\VID&1 " + inf_ +
                             "\nverify for USB\\VID&1\nstderr: oops\nstderr: again\nexit code: 4\n"
                             "result: 3010 (done, restart needed)\n");
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(keep)) {
        kept.push_back(entry.path().filename());
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"12091701.log", "Device.CAT", "InstallerCheck.exe",
                                              "device.inf"}));
    EXPECT_EQ(Read(keep + "/InstallerCheck.exe"), Read(programs_ + "/InstallerCheck.exe"));
    EXPECT_EQ(Read(keep + "/Device.CAT"), "catalog");

    // The uninstall takes what the install kept, and the folder with it; the next install makes
    // it again; a link at its name is left alone, and so is what it leads to.
    EXPECT_EQ(Deploy({"/uninstall", "/keep", keep, "/force", "USB\\VID&1", inf_}), 0);
    EXPECT_EQ(out_, "remove --force USB\\VID&1 " + inf_ + "\n");
    EXPECT_FALSE(fs::exists(keep));
    EXPECT_EQ(Deploy({"/keep", keep, "USB\\VID&1", inf_}), 3010);
    EXPECT_EQ(Read(keep + "/device.inf"), "[Version]\r\n");
    fs::remove_all(keep);
    const std::string elsewhere = home_ + "/elsewhere";
    fs::create_directory(elsewhere);
    std::ofstream(elsewhere + "/InstallerCheck.exe") << "someone else's";
    ASSERT_EQ(symlink(elsewhere.c_str(), keep.c_str()), 0);
    EXPECT_EQ(Deploy({"/uninstall", "/keep", keep, "USB\\VID&1", inf_}), 0);
    EXPECT_EQ(err_, "Deploy: \"" + keep +
                        "\" is a junction or symbolic link; nothing was deleted through it.\n");
    EXPECT_EQ(Read(elsewhere + "/InstallerCheck.exe"), "someone else's");
}

// With /keep, the uninstall takes off the version the install kept, also when it is given a newer
// INF of the same name; the kept files go only once the removal is done, so that detection and
// a retry that names the kept INF still work after a removal that failed.
TEST_F(DeployTest, AnUninstallTakesOffTheKeptVersionAndKeepsItsFilesUntilDone) {
    const std::string keep = home_ + "/kept";
    const std::string kept = keep + "\\device.inf";
    std::ofstream(home_ + "/device.cat") << "catalog";
    ASSERT_EQ(Deploy({"/keep", keep, "ID", inf_}), 0);
    // "Removes" when given the installed version, whose bytes the kept INF holds.
    Program("InstallerRemove.exe", "if cmp -s \"$(printf %s \"$2\" | tr '\\\\' /)\" \"" + keep +
                                       "/device.inf\"; then echo \"removed $2\"; exit ${CODE:-0}; "
                                       "fi\necho 'nothing to remove'\n");
    std::ofstream(inf_) << "[Version]\r\nDriverVer=2\r\n";
    const std::string remover = home_ + "\\x64\\InstallerRemove.exe";
    const std::string runs = "-- " + remover + " ID " + inf_ +
                             "\nnothing to remove\nexit code: 0\nDeploy: the /keep folder holds "
                             "another version of device.inf, the one installed; it is removed as "
                             "well.\n-- " +
                             remover + " ID " + kept + "\nremoved " + kept + "\n";
    const std::string failed =
        "Deploy: the removal is not done; \"" + keep + "\" keeps the detection command's files.\n";
    fs::remove(log_);
    setenv("CODE", "1", 1);
    EXPECT_EQ(Deploy({"/uninstall", "/keep", keep, "ID", inf_}), 1603);
    EXPECT_EQ(err_, failed);
    EXPECT_EQ(Records(), Header("uninstall", "/uninstall /keep " + keep + " ID " + inf_) + runs +
                             "exit code: 1\n" + failed + "result: 1603 (not done)\n");
    EXPECT_EQ(Read(keep + "/device.inf"), "[Version]\r\n");
    EXPECT_EQ(Read(keep + "/device.cat"), "catalog");
    EXPECT_TRUE(fs::exists(keep + "/InstallerCheck.exe"));
    // 2 from the second removal comes after the first has run: not done, never "nothing run".
    setenv("CODE", "2", 1);
    EXPECT_EQ(Deploy({"/uninstall", "/keep", keep, "ID", inf_}), 1603);
    EXPECT_EQ(err_, "Deploy: InstallerRemove.exe ended with 2 (wrong command line) for the kept "
                    "INF after the first removal; the removal is not done.\n" +
                        failed);
    EXPECT_TRUE(fs::exists(keep + "/device.inf"));
    // Done: what the install kept goes, and what it did not put there stays, with the folder.
    setenv("CODE", "4", 1);
    fs::remove(log_);
    std::ofstream(keep + "/stray.txt") << "someone's";
    EXPECT_EQ(Deploy({"/uninstall", "/keep", keep, "ID", inf_}), 3010);
    unsetenv("CODE");
    const std::string left = "Deploy: \"" + keep +
                             "\" holds files Deploy did not put there, or could not be deleted; it "
                             "was left in place.\n";
    EXPECT_EQ(err_, left);
    EXPECT_EQ(Records(), Header("uninstall", "/uninstall /keep " + keep + " ID " + inf_) + runs +
                             "exit code: 4\n" + left + "result: 3010 (done, restart needed)\n");
    EXPECT_EQ(fs::directory_iterator(keep)->path().filename(), "stray.txt");
    EXPECT_EQ(std::distance(fs::directory_iterator(keep), fs::directory_iterator()), 1);

    // The kept INF itself, given to a retried uninstall: one removal, then the folder goes.
    ASSERT_EQ(Deploy({"/keep", keep, "ID", inf_}), 0);
    fs::remove(log_);
    EXPECT_EQ(Deploy({"/uninstall", "/keep", keep, "ID", keep + "/device.inf"}), 0);
    EXPECT_EQ(Records(),
              Header("uninstall", "/uninstall /keep " + keep + " ID " + keep + "/device.inf") +
                  "-- " + remover + " ID " + keep + "/device.inf\nremoved " + keep +
                  "/device.inf\nexit code: 0\nresult: 0 (done and verified)\n");
    EXPECT_FALSE(fs::exists(keep));
}

// A verify that ends with 2 after Installer.exe has run: the install is not verified (1603), and
// the record says so rather than "wrong command line".
TEST_F(DeployTest, AVerifyThatRefusesItsCommandLineAfterTheInstallIsNotDone) {
    Program("InstallerCheck.exe", "[ \"$1\" = plan ] && exit 0\necho usage >&2\nexit 2\n");
    EXPECT_EQ(Deploy({"ID", inf_}), 1603);
    const std::string why = "Deploy: InstallerCheck.exe verify ended with 2 (wrong command line) "
                            "after Installer.exe had run; the install is not verified.\n";
    EXPECT_EQ(err_, "usage\n" + why);
    const std::string checker = home_ + "\\x64\\InstallerCheck.exe";
    EXPECT_EQ(Records(), Header("install", "ID " + inf_) + "-- " + checker + " plan ID " + inf_ +
                             "\nexit code: 0\n-- " + home_ + "\\x64\\Installer.exe ID " + inf_ +
                             "\nexit code: 0\ntrace 12091701.log:\n"
                             "             Sample(0007) : uRet = d\n-- " +
                             checker + " verify ID " + inf_ + "\nstderr: usage\nexit code: 2\n" +
                             why + "result: 1603 (not done)\n");
}

// Each refusal runs nothing and changes no /keep folder; each gives its code and one reason.
TEST_F(DeployTest, RefusalsRunNothing) {
    const std::string keep = home_ + "/keep";
    const std::string elsewhere = home_ + "/elsewhere";
    fs::create_directories(elsewhere + "/inner");
    struct Case {
        std::string name;
        std::vector<std::string> arguments;
        int code;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"usage", {"ID"}, 2, kUsage},
        {"no INF",
         {"ID", home_ + "/missing.inf"},
         2,
         "Deploy: no INF file at \"" + home_ + "/missing.inf\"; nothing was run.\n"},
        {"a folder",
         {"ID", home_},
         2,
         "Deploy: no INF file at \"" + home_ + "\"; nothing was run.\n"},
        {"a wildcard",
         {"ID", home_ + "/dev*.inf"},
         2,
         "Deploy: no INF file at \"" + home_ + "/dev*.inf\"; nothing was run.\n"},
        {"INF in /keep",
         {"/keep", home_, "ID", inf_},
         2,
         "Deploy: the INF is in the /keep folder \"" + home_ +
             "\", which Deploy empties and makes anew; give the INF from another folder. Nothing "
             "was run.\n"},
        // The same folder through a link in a parent folder, and an INF that is a link into it.
        {"INF in /keep by another name",
         {"/keep", home_ + "/up/home", "ID", inf_},
         2,
         "Deploy: the INF is in the /keep folder \"" + home_ +
             "/up/home\", which Deploy empties and makes anew; give the INF from another folder. "
             "Nothing was run.\n"},
        {"INF linked into /keep",
         {"/keep", elsewhere, "ID", elsewhere + "/../linked.inf"},
         2,
         "Deploy: the INF is in the /keep folder \"" + elsewhere +
             "\", which Deploy empties and makes anew; give the INF from another folder. Nothing "
             "was run.\n"},
        {"empty /keep", {"/keep", "", "ID", inf_}, 2, kUsage},
        {"link",
         {"/keep", keep, "ID", inf_},
         1603,
         "Deploy: \"" + keep +
             "\" is a junction or symbolic link, not a folder; nothing was "
             "copied or run.\n"},
        {"folders",
         {"/keep", elsewhere, "ID", inf_},
         1603,
         "Deploy: \"" + elsewhere +
             "\" holds folders; /keep needs a folder of its own, which "
             "Deploy empties. Nothing was copied or run.\n"},
        {"file",
         {"/keep", inf_, "ID", home_ + "/x64/Installer.exe"},
         1603,
         "Deploy: \"" + inf_ + "\" is a file, not a folder; nothing was copied or run.\n"},
    };
    ASSERT_EQ(symlink(elsewhere.c_str(), keep.c_str()), 0);
    fs::create_directory(home_ + "/up");
    ASSERT_EQ(symlink("..", (home_ + "/up/home").c_str()), 0);
    std::ofstream(elsewhere + "/device.inf") << "[Version]\r\n";
    ASSERT_EQ(symlink((elsewhere + "/device.inf").c_str(), (home_ + "/linked.inf").c_str()), 0);
    for (const Case& c : cases) {
        EXPECT_EQ(Deploy(c.arguments), c.code) << c.name;
        EXPECT_EQ(err_, c.err) << c.name;
    }
    EXPECT_FALSE(fs::exists(programs_ + "/ran"));
    EXPECT_TRUE(fs::is_directory(elsewhere + "/inner"));
    EXPECT_EQ(Read(inf_), "[Version]\r\n");
    EXPECT_EQ(Read(elsewhere + "/device.inf"), "[Version]\r\n");
    // Every refusal has its record.
    const std::string records = Records();
    const std::regex header("(^|\n)==== Deploy\\.cmd install on ");
    EXPECT_EQ(std::distance(std::sregex_iterator(records.begin(), records.end(), header),
                            std::sregex_iterator()),
              11);

    // Asked again while the folder is held, before anything in it is deleted: a refusal after
    // the pre-flight has run says what was not done.
    const std::u16string held = Utf8ToUtf16(home_ + "/held");
    fs::create_directory(home_ + "/held");
    std::ofstream(home_ + "/held/device.inf") << "kept";
    ASSERT_EQ(symlink((home_ + "/held/device.inf").c_str(), (home_ + "/into.inf").c_str()), 0);
    EXPECT_EQ(PrepareKeep(held, Utf8ToUtf16(programs_ + "/InstallerCheck.exe"),
                          Utf8ToUtf16(home_ + "/into.inf")),
              KeepResult::HoldsInf);
    EXPECT_EQ(Read(home_ + "/held/device.inf"), "kept");
    EXPECT_EQ(KeepRefusal(KeepResult::HoldsInf, held),
              "Deploy: the INF is in the /keep folder \"" + home_ +
                  "/held\", which Deploy empties and makes anew; give the INF from another "
                  "folder. Nothing was copied or installed.");
}

// The pre-flight: a package that will not install gives 1603 with plan's reason and runs nothing
// more; 3 is passed on; /nocheck skips it and says so.
TEST_F(DeployTest, ThePreFlightStopsAPackageThatWillNotInstall) {
    Program("InstallerCheck.exe", "echo 'InstallerCheck: no models for NTamd64' >&2\nexit 1\n");
    EXPECT_EQ(Deploy({"ID", inf_}), 1603);
    EXPECT_EQ(err_, "InstallerCheck: no models for NTamd64\nDeploy: the pre-flight found that the "
                    "package will not install here; nothing was changed.\n");
    EXPECT_FALSE(fs::exists(programs_ + "/ran"));
    Program("InstallerCheck.exe", "exit 3\n");
    EXPECT_EQ(Deploy({"ID", inf_}), 3);
    EXPECT_EQ(err_, "");
    EXPECT_FALSE(fs::exists(programs_ + "/ran"));
    fs::remove(log_);
    EXPECT_EQ(Deploy({"/nocheck", "ID", inf_}), 3);
    EXPECT_EQ(Read(programs_ + "/ran"), "ID " + inf_ + "\n");
    const std::string records = Records();
    EXPECT_EQ(records.substr(0, records.find("-- ")),
              Header("install", "/nocheck ID " + inf_) + "pre-flight: skipped (/nocheck)\n");
}

// A program that did not start (here: its interpreter is missing, the system's error 2) is not
// done, never "wrong command line"; the record keeps the system's error.
TEST_F(DeployTest, AProgramThatDidNotStartIsNotDone) {
    Program("InstallerRemove.exe", "", "/no/such/shell");
    EXPECT_EQ(Deploy({"/uninstall", "ID", inf_}), 1603);
    const std::string remover = home_ + "\\x64\\InstallerRemove.exe";
    EXPECT_EQ(err_, "Deploy: \"" + remover + "\" did not start: error 2.\n");
    EXPECT_EQ(Records(), Header("uninstall", "/uninstall ID " + inf_) + "-- " + remover + " ID " +
                             inf_ + "\ndid not start: error 2\nDeploy: \"" + remover +
                             "\" did not start: error 2.\nresult: 1603 (not done)\n");
}

// Installer.exe exits with 0 whenever it runs: any other code means it did not, which is said,
// and the check decides. The package's trace settings that cannot be copied are said too.
TEST_F(DeployTest, AnInstallerThatDidNotRunIsSaidAndTheCheckDecides) {
    Program("Installer.exe", "exit 1\n");
    std::ofstream(home_ + "/TqDbgCfg.ini") << "[OUTPUT]\n";
    fs::create_directory(programs_ + "/TqDbgCfg.ini");
    EXPECT_EQ(Deploy({"/nocheck", "ID", inf_}), 0);
    EXPECT_EQ(err_, "Deploy: could not copy TqDbgCfg.ini into \"" + home_ +
                        "\\x64\"; the trace keeps its settings there.\nDeploy: \"" + home_ +
                        "\\x64\\Installer.exe\" did not run: code 1; 740 means it needs "
                        "administrator rights.\n");
}

// Links a user planted beside the programs are never followed by a copy: the package's settings
// are not written through a link at x64/TqDbgCfg.ini (nor is a file made where a dangling one
// leads), and /keep never takes a trace log that is a link to a file elsewhere.
TEST_F(DeployTest, CopiesNeverFollowALinkBesideThePrograms) {
    const std::string keep = home_ + "/keep";
    const std::string settings = programs_ + "/TqDbgCfg.ini";
    std::ofstream(home_ + "/secret") << "secret";
    std::ofstream(home_ + "/target.ini") << "target";
    std::ofstream(home_ + "/TqDbgCfg.ini") << "[OUTPUT]\n";
    ASSERT_EQ(symlink((home_ + "/secret").c_str(), (programs_ + "/planted.log").c_str()), 0);
    ASSERT_EQ(symlink((home_ + "/target.ini").c_str(), settings.c_str()), 0);
    const std::string refused = "Deploy: could not copy TqDbgCfg.ini into \"" + home_ +
                                "\\x64\"; the trace keeps its settings there.\n";
    EXPECT_EQ(Deploy({"/keep", keep, "ID", inf_}), 0);
    EXPECT_EQ(err_, refused);
    EXPECT_EQ(Read(home_ + "/target.ini"), "target");
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(keep)) {
        kept.push_back(entry.path().filename());
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"12091701.log", "InstallerCheck.exe", "device.inf"}));

    fs::remove(settings);
    ASSERT_EQ(symlink((home_ + "/made.ini").c_str(), settings.c_str()), 0);
    EXPECT_EQ(Deploy({"ID", inf_}), 0);
    EXPECT_EQ(err_, refused);
    EXPECT_FALSE(fs::exists(home_ + "/made.ini"));
    EXPECT_EQ(Read(home_ + "/secret"), "secret");
}

// The machine's native architecture picks the programs; one the package has none for is 1633
// before anything runs.
TEST_F(DeployTest, TheNativeArchitecturePicksThePrograms) {
    DeployPlatformHost::SetNativeArchitecture(u"ARM64");
    EXPECT_EQ(Deploy({"ID", inf_}), 1633);
    EXPECT_EQ(err_, "Deploy: this Windows runs on \"ARM64\"; the package holds programs for x86 "
                    "and x64 Windows only, so nothing was run.\n");
    fs::rename(programs_, home_ + "/arm64");
    EXPECT_EQ(Deploy({"/nocheck", "ID", inf_}), 0);
    EXPECT_TRUE(fs::exists(home_ + "/arm64/ran"));
    DeployPlatformHost::SetNativeArchitecture(u"x86");
    EXPECT_EQ(Deploy({"ID", inf_}), 1603);
    EXPECT_EQ(err_, "Deploy: the package is incomplete: \"" + home_ +
                        "\\x86\" lacks Installer.exe, InstallerCheck.exe or InstallerRemove.exe; "
                        "nothing was run.\n");
    EXPECT_FALSE(fs::exists(log_) && Records().find("x86") != std::string::npos);
}

// A program's output goes into the record up to kDeployMaxCapture bytes; beyond that the record
// says how much was left out.
TEST_F(DeployTest, AProgramsOutputIsRecordedUpToTheCap) {
    const std::string remover = home_ + "\\x64\\InstallerRemove.exe";
    for (const size_t extra : {size_t{0}, size_t{3}}) {
        Program("InstallerRemove.exe", "head -c " + std::to_string(kDeployMaxCapture + extra) +
                                           " /dev/zero | tr '\\0' x\n");
        fs::remove(log_);
        EXPECT_EQ(Deploy({"/uninstall", "ID", inf_}), 0);
        EXPECT_EQ(out_.size(), kDeployMaxCapture + extra);
        EXPECT_EQ(Records(), Header("uninstall", "/uninstall ID " + inf_) + "-- " + remover +
                                 " ID " + inf_ + "\n" + std::string(kDeployMaxCapture, 'x') +
                                 (extra == 0 ? "" : "\n[3 more bytes left out]") +
                                 "\nexit code: 0\nresult: 0 (done and verified)\n");
    }
}

// Without /log: Intune's log folder when there is one, else Configuration Manager's, else ours
// in the Windows folder, made when needed. The tools' folders count through a link too (an
// administrator may have moved one to another drive).
TEST_F(DeployTest, TheLogGoesWhereTheDeploymentToolCollectsIt) {
    const std::string windows = home_ + "/Windows";
    const std::string intune = home_ + "/ProgramData/Microsoft/IntuneManagementExtension/Logs";
    fs::create_directory(windows);
    setenv("SystemRoot", windows.c_str(), 1);
    setenv("ProgramData", (home_ + "/ProgramData").c_str(), 1);
    const std::vector<std::u16string> arguments = {u"/uninstall", u"ID", Utf8ToUtf16(inf_)};
    std::vector<std::string> chosen;
    for (const std::string& folder : {windows + "/Logs/Installer", windows + "/CCM/Logs", intune}) {
        fs::create_directories(windows + "/CCM");
        if (folder != windows + "/Logs/Installer") {
            const std::string moved = folder + " (moved)";
            fs::create_directories(moved);
            fs::create_directory_symlink(moved, folder);
        }
        EXPECT_EQ(RunDeploy(Utf8ToUtf16(home_), arguments), 0);
        chosen.push_back(Read(folder + "/InstallerDeploy.log").empty() ? "" : folder);
    }
    unsetenv("SystemRoot");
    unsetenv("ProgramData");
    EXPECT_EQ(chosen, (std::vector<std::string>{windows + "/Logs/Installer", windows + "/CCM/Logs",
                                                intune}));
}

// The log never decides the deployment: a record that does not fit (a file-size limit, as a
// full disk) leaves nothing of itself, costs one line, and the code stays the deployment's.
TEST_F(DeployTest, ARecordThatCannotBeWrittenWholeLeavesNothingAndCostsOneLine) {
    std::signal(SIGXFSZ, SIG_IGN);
    const std::string earlier = "earlier records\r\n";
    std::ofstream(log_, std::ios::binary) << earlier;
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = earlier.size() + 40;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int code = Deploy({"/uninstall", "ID", inf_});
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(err_,
              "Deploy: could not write this deployment's record whole to the deployment log " +
                  log_ + " (is the disk full?); none of it was left there.\n");
    EXPECT_EQ(Read(log_), earlier);

    fs::remove(log_);
    ASSERT_EQ(symlink(inf_.c_str(), log_.c_str()), 0);
    EXPECT_EQ(Deploy({"/uninstall", "ID", inf_}), 0);
    EXPECT_EQ(err_, "Deploy: could not write the deployment log " + log_ +
                        " (it is missing a folder, held open, or not a plain file); this "
                        "deployment's record is not in it.\n");
    EXPECT_EQ(Read(inf_), "[Version]\r\n");
}

// The signature cases' packages (tests/signing/make-packages.sh), made once, signed by the
// build tree's test PKI (SigningTools.h).
class SigningCases {
  public:
    static const SigningCases& Get() {
        static const SigningCases cases;
        return cases;
    }
    ~SigningCases() { fs::remove_all(folder); }
    std::string Inf(const std::string& name) const { return folder + "/" + name + "/sample.inf"; }
    std::string Cer(const std::string& name) const { return pki + name + ".cer"; }
    std::string folder;
    std::string pki = SigningTools::TestPki();
    bool made = false;

  private:
    SigningCases() {
        char pattern[] = "/tmp/deploy-signing-XXXXXX";
        folder = mkdtemp(pattern);
        const std::string command = "bash " + SigningTools::Script("make-packages.sh") + " " +
                                    SigningTools::Quote(folder) + " " + SigningTools::Quote(pki) +
                                    " >/dev/null";
        made = !pki.empty() && std::system(command.c_str()) == 0;
    }
};

// /trustpublisher before the pre-flight, against real signed packages, the real plan and the
// simulated machine's stores (root and publisher trusted): the signer is added only when the
// catalog's signature holds, its chain is trusted and the thumbprint given is the signer's; any
// other case is 1603 with the store as it was. Without the switch, plan's signature reasons
// stop the run with 1603, on stderr and in the log.
TEST_F(DeployTest, TrustPublisherAddsOnlyTheNamedSignerOfAGoodChain) {
    const SigningCases& signing = SigningCases::Get();
    ASSERT_TRUE(signing.made) << signing.folder;
    // plan is the real one; Installer.exe and verify are the fixture's scripts.
    Program("InstallerCheck.exe",
            "[ \"$1\" = plan ] && exec '" INSTALLER_CHECK_PROGRAM "' \"$@\"\necho \"$1 for $2\"\n");
    const std::string machine = home_ + "/Machine.ini";
    const std::vector<std::string> trusted = {signing.Cer("publisher")};
    const std::string id = "USB\\VID_1234&PID_5678";
    const std::string second1 = SigningTools::Thumbprints("second-publisher")[0];
    const std::string second256 = SigningTools::Thumbprints("second-publisher")[1];
    const std::string added = "trusted-publisher-" + second1 + ".cer";
    const std::string secondName = "\"Example Devices Second Publisher\" (SHA-1 " + second1 + ")";
    const std::string refused = "; no publisher was trusted, nothing was changed.\n";
    const auto catalog = [&](const std::string& name) {
        return "\"" + signing.folder + "/" + name + "/sample.cat\"";
    };
    struct Case {
        std::string package;
        std::string thumbprint; // empty: no /trustpublisher
        int code;
        std::string err; // what Deploy says; empty: plan's reasons, then Deploy's
        std::vector<std::string> publishers; // [trust]'s trusted publishers afterwards
    };
    const std::vector<Case> cases = {
        {"untrusted-publisher", "", 1603, "", trusted},
        // Another certificate's thumbprint: the one already trusted.
        {"untrusted-publisher", SigningTools::Thumbprints("publisher")[0], 1603,
         "Deploy: /trustpublisher: the catalog is signed by " + secondName +
             ", not by the certificate " + SigningTools::Thumbprints("publisher")[0] + refused,
         trusted},
        {"untrusted-root", SigningTools::Thumbprints("untrusted-signer")[0], 1603,
         "Deploy: /trustpublisher: the catalog's signer \"Example Untrusted Signer\" (SHA-1 " +
             SigningTools::Thumbprints("untrusted-signer")[0] +
             ") does not chain to a trusted root" + refused,
         trusted},
        {"catalog-content-changed", SigningTools::Thumbprints("publisher")[0], 1603,
         "Deploy: /trustpublisher: the signature of the catalog " +
             catalog("catalog-content-changed") + " does not hold" + refused,
         trusted},
        {"not-a-catalog", second1, 1603,
         "Deploy: /trustpublisher: the catalog " + catalog("not-a-catalog") +
             " has no signer (unsigned, or not a catalog)" + refused,
         trusted},
        {"untrusted-publisher", second1.substr(1), 1603,
         "Deploy: /trustpublisher takes a certificate's SHA-1 thumbprint (40 hex digits) or "
         "SHA-256 thumbprint (64 hex digits), not \"" +
             second1.substr(1) + "\"; nothing was changed.\n",
         trusted},
        // The signer's own thumbprint, SHA-1 or SHA-256, as a user may type it.
        {"untrusted-publisher", second1, 0, "", {trusted[0], added}},
        {"untrusted-publisher",
         [&] {
             std::string spaced;
             for (size_t i = 0; i < second256.size(); i += 2) {
                 spaced += (i == 0 ? "" : " ") + second256.substr(i, 2);
             }
             std::transform(spaced.begin(), spaced.end(), spaced.begin(), ::tolower);
             return spaced;
         }(),
         0,
         "",
         {trusted[0], added}},
    };
    for (const Case& c : cases) {
        std::ofstream(machine, std::ios::trunc) << "[trust]\nroot = " << signing.Cer("root")
                                                << "\ntrusted-publisher = " << trusted[0] << "\n";
        fs::remove(home_ + "/" + added);
        fs::remove(log_);
        fs::remove(programs_ + "/ran");
        setenv("INSTALLER_MACHINE", machine.c_str(), 1);
        ASSERT_TRUE(DevSim::LoadDefaultMachine());
        std::vector<std::string> arguments = {id, signing.Inf(c.package)};
        if (!c.thumbprint.empty()) {
            arguments.insert(arguments.begin(), {"/trustpublisher", c.thumbprint});
        }
        const std::string name = c.package + " " + c.thumbprint;
        EXPECT_EQ(Deploy(arguments), c.code) << name;
        DevSim::Machine after;
        std::string error;
        ASSERT_TRUE(DevSim::LoadMachineFile(machine, &after, &error)) << error;
        EXPECT_EQ(after.roots, std::vector<std::string>{signing.Cer("root")}) << name;
        EXPECT_EQ(after.trustedPublishers, c.publishers) << name;
        EXPECT_EQ(fs::exists(home_ + "/" + added), c.code == 0) << name;
        const std::string records = Records();
        if (c.code == 0) {
            EXPECT_EQ(err_, "") << name;
            EXPECT_EQ(Read(home_ + "/" + added), Read(signing.Cer("second-publisher")));
            EXPECT_NE(records.find("\ntrusted publisher: added " + secondName +
                                   " to LocalMachine TrustedPublisher\n-- "),
                      std::string::npos)
                << records;
            EXPECT_EQ(Read(programs_ + "/ran"), id + " " + signing.Inf(c.package) + "\n");
        } else if (c.err.empty()) {
            // plan's reasons, each on stderr and in the log, as plan itself gives them.
            const DeployPlatform::Finished plan = DeployPlatform::RunProgram(
                Utf8ToUtf16(INSTALLER_CHECK_PROGRAM),
                {u"plan", Utf8ToUtf16(id), Utf8ToUtf16(signing.Inf(c.package))});
            EXPECT_EQ(plan.code, 1u);
            EXPECT_NE(plan.err.find("publisher"), std::string::npos) << plan.err;
            const std::string stop = "Deploy: the pre-flight found that the package will not "
                                     "install here; nothing was changed.\n";
            EXPECT_EQ(err_, plan.err + stop);
            std::string logged;
            std::istringstream lines(plan.err);
            for (std::string line; std::getline(lines, line);) {
                logged += "stderr: " + line + "\n";
            }
            EXPECT_EQ(records, Header("install", id + " " + signing.Inf(c.package)) + "-- " +
                                   home_ + "\\x64\\InstallerCheck.exe plan " + id + " " +
                                   signing.Inf(c.package) + "\n" + plan.out + logged +
                                   "exit code: 1\n" + stop + "result: 1603 (not done)\n");
        } else {
            EXPECT_EQ(err_, c.err) << name;
            EXPECT_EQ(records, Header("install", "/trustpublisher " + c.thumbprint + " " + id +
                                                     " " + signing.Inf(c.package)) +
                                   c.err + "result: 1603 (not done)\n")
                << name;
        }
        EXPECT_EQ(fs::exists(programs_ + "/ran"), c.code == 0) << name;
    }
    // Trusting it again adds nothing: the publisher is trusted already.
    ASSERT_EQ(Deploy({"/trustpublisher", second1, id, signing.Inf("untrusted-publisher")}), 0);
    EXPECT_NE(Records().find("trusted publisher: " + secondName +
                             " is trusted already; nothing was added.\n"),
              std::string::npos);
    DevSim::Machine after;
    ASSERT_TRUE(DevSim::LoadMachineFile(machine, &after, nullptr));
    EXPECT_EQ(after.trustedPublishers, (std::vector<std::string>{trusted[0], added}));
}

} // namespace
