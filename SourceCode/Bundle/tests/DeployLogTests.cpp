// DeployLog as Deploy.cmd uses it: the real program, run on real files, with shell scripts in
// place of the programs it runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "DeployLog.h"
#include "DeployPlatform.h"
#include "TracePlatformHost.h"

namespace fs = std::filesystem;

namespace {

using TracePlatformHost::FromUtf8;

// The worked example of the trace: "             Sample(0007) : uRet = d" as the log holds it.
const std::string kScrambledRecord = "             \x93\xA1\xAD\xB0\xAC\xA5\x68\x70\x70\x70\x77"
                                     "\x69\x20\x7A\x20\xB5\x92\xA5\xB4\x20\x7D\x20\xA4\r\n";

class DeployLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/deploy-log-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        log_ = dir_ + "/Deploy.log";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the DeployLog program itself with these arguments.
    DeployPlatform::Finished Deploy(const std::vector<std::string>& arguments) {
        std::vector<std::u16string> wide;
        for (const std::string& argument : arguments) {
            wide.push_back(FromUtf8(argument));
        }
        return DeployPlatform::RunProgram(FromUtf8(DEPLOY_LOG_PROGRAM), wide, u"");
    }
    // A program for DeployLog to run: a shell script in the test's folder.
    std::string Script(const std::string& name, const std::string& body) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        chmod(path.c_str(), 0755);
        return path;
    }
    std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::string dir_;
    std::string log_;
};

TEST(DeployLogText, QuotesArgumentsAsWindowsProgramsReadThem) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"USB\\VID_1234&PID_5678", u"USB\\VID_1234&PID_5678"},
        {u"", u"\"\""},
        {u"C:\\Program Files\\x.inf", u"\"C:\\Program Files\\x.inf\""},
        {u"C:\\kept dir\\", u"\"C:\\kept dir\\\\\""},
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"a\\\\\"b c", u"\"a\\\\\\\\\\\"b c\""},
    };
    for (const auto& [argument, quoted] : cases) {
        EXPECT_EQ(QuoteArgument(argument), quoted) << TracePlatformHost::ToUtf8(argument);
    }
    EXPECT_EQ(RolledOverName(u"C:\\Logs\\Deploy.log"), u"C:\\Logs\\Deploy.old");
    EXPECT_EQ(RolledOverName(u"C:\\my.logs\\deploy"), u"C:\\my.logs\\deploy.old");
}

// One whole record: the header, each program with its output, exit code and the trace it added,
// and the result; the programs' output reaches DeployLog's own and their codes its exit code.
TEST_F(DeployLogTest, ARecordHoldsEachRunWithItsOutputCodeAndTrace) {
    std::ofstream(dir_ + "/12091700.log", std::ios::binary) << "earlier runs' records\r\n";
    const std::string installer = Script(
        "install.sh", "printf '%s' '" + kScrambledRecord +
                          "' >> \"$(dirname \"$0\")/12091700.log\"\n"
                          "printf '%s' '" +
                          kScrambledRecord + "' > \"$(dirname \"$0\")/12091701.log\"\nexit 0\n");
    const std::string check =
        Script("check.sh", "echo \"report for $1 $2\"\nprintf 'oops\\nagain' >&2\nexit 4\n");

    EXPECT_EQ(Deploy({log_, "begin", "install", "x64", "/keep", "C:\\kept dir", "USB\\VID&1"}).code,
              0u);
    const DeployPlatform::Finished install = Deploy({log_, "run", "--trace", installer, "a b"});
    EXPECT_EQ(install.code, 0u);
    const DeployPlatform::Finished verify = Deploy({log_, "run", check, "USB\\VID&1", "x.inf"});
    EXPECT_EQ(verify.code, 4u);
    EXPECT_EQ(verify.out, "report for USB\\VID&1 x.inf\n");
    EXPECT_EQ(verify.err, "oops\nagain");
    const DeployPlatform::Finished said =
        Deploy({log_, "say", "Deploy:", "\"C:\\a & b\"", "is odd."});
    EXPECT_EQ(said.err, "Deploy: \"C:\\a & b\" is odd.\n");
    EXPECT_EQ(said.code, 0u);
    EXPECT_EQ(Deploy({log_, "end", "3010"}).code, 0u);

    const std::string text = Read(log_);
    const std::regex header(
        "==== \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d\\d:\\d\\d Deploy\\.cmd install on "
        "[^\\r\\n]+ as [^\\r\\n]+\\r\\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(text, match, header)) << text;
    EXPECT_EQ(match.position(0), 0);
    const std::string expected = "command line: /keep \"C:\\kept dir\" USB\\VID&1\r\n"
                                 "architecture: x64\r\n"
                                 "-- " +
                                 installer +
                                 " \"a b\"\r\n"
                                 "exit code: 0\r\n"
                                 "trace 12091700.log:\r\n"
                                 "             Sample(0007) : uRet = d\r\n"
                                 "trace 12091701.log:\r\n"
                                 "             Sample(0007) : uRet = d\r\n"
                                 "-- " +
                                 check +
                                 " USB\\VID&1 x.inf\r\n"
                                 "report for USB\\VID&1 x.inf\r\n"
                                 "stderr: oops\r\n"
                                 "stderr: again\r\n"
                                 "exit code: 4\r\n"
                                 "Deploy: \"C:\\a & b\" is odd.\r\n"
                                 "result: 3010 (done, restart needed)\r\n";
    EXPECT_EQ(text.substr(match.length(0)), expected);
}

// The log never decides the deployment: a name that leads elsewhere takes nothing and costs one
// line on stderr, no log at all is fine, and a program that cannot start says why.
TEST_F(DeployLogTest, ALogThatCannotBeWrittenCostsOnlyALine) {
    const std::string tool = Script("tool.sh", "echo done\nexit 3\n");
    const std::string target = dir_ + "/someone-elses.txt";
    std::ofstream(target) << "kept";
    ASSERT_EQ(link(target.c_str(), log_.c_str()), 0);
    const DeployPlatform::Finished linked = Deploy({log_, "run", tool});
    EXPECT_EQ(linked.code, 3u);
    EXPECT_EQ(linked.out, "done\n");
    EXPECT_EQ(linked.err, "DeployLog: could not write the deployment log " + log_ +
                              " (it is missing a folder, held open, or not a plain file); the "
                              "deployment goes on without it.\n");
    EXPECT_EQ(Read(target), "kept");

    const DeployPlatform::Finished none = Deploy({"", "run", tool});
    EXPECT_EQ(none.code, 3u);
    EXPECT_EQ(none.err, "");

    fs::remove(log_);
    const DeployPlatform::Finished missing = Deploy({log_, "run", dir_ + "/missing.exe"});
    EXPECT_EQ(missing.code, 2u); // the system's reason: no such file
    EXPECT_NE(missing.err.find("missing.exe did not start: error 2"), std::string::npos);
    EXPECT_NE(Read(log_).find("did not start: error 2\r\n"), std::string::npos);

    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{log_, "walk"}, {log_, "end"}, {log_, "begin", "install"}}) {
        const DeployPlatform::Finished usage = Deploy(wrong);
        EXPECT_EQ(usage.code, 2u);
        EXPECT_EQ(usage.err.rfind("Usage: DeployLog LOG begin", 0), 0u) << usage.err;
    }
}

// At 1 MiB the log becomes the one .old file, replacing the previous one, and starts afresh.
TEST_F(DeployLogTest, ALogOfOneMebibyteRollsOverToOneOldFile) {
    std::ofstream(dir_ + "/Deploy.old") << "older";
    std::ofstream(log_, std::ios::binary) << std::string(kDeployLogRollBytes - 1, 'x');
    EXPECT_EQ(Deploy({log_, "begin", "install", "x64"}).code, 0u);
    EXPECT_EQ(Read(dir_ + "/Deploy.old"), "older"); // not yet: one byte short
    const uint64_t grown = fs::file_size(log_);
    EXPECT_GT(grown, kDeployLogRollBytes - 1);

    EXPECT_EQ(Deploy({log_, "begin", "uninstall", "x86"}).code, 0u);
    EXPECT_EQ(fs::file_size(dir_ + "/Deploy.old"), grown);
    const std::string fresh = Read(log_);
    EXPECT_EQ(fresh.rfind("==== ", 0), 0u);
    EXPECT_NE(fresh.find(" Deploy.cmd uninstall on "), std::string::npos);
    EXPECT_NE(fresh.find("architecture: x86\r\n"), std::string::npos);
}

} // namespace
