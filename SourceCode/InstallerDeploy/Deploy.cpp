#include "Deploy.h"

#include "AsciiCase.h"
#include "DeployCommandLine.h"
#include "DeployKeep.h"
#include "DeployLogFile.h"
#include "DeployPlatform.h"
#include "DeployRecord.h"
#include "DeployResult.h"
#include "DeployTrust.h"
#include "LocalClock.h"
#include "SafeFile.h"

namespace {

using DeployPlatform::PathKind;

const char kUsage[] =
    "Usage: Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log <file>] [/nocheck] "
    "[/trustpublisher <thumbprint>] <hardware ID> <INF path>";
const char kUsageExample[] = "Quote each argument, for example: Deploy.cmd "
                             "\"USB\\VID_1234&PID_5678\" \"C:\\Drivers\\device.inf\"";

std::u16string Join(const std::u16string& folder, const std::u16string& name) {
    return folder + u"\\" + name;
}

// Built by appending: GCC 12's -Wrestrict misreads "\"" + std::string&&.
std::string Quoted(const std::u16string& path) {
    std::string quoted(1, '"');
    quoted += Utf8(path);
    quoted += '"';
    return quoted;
}

std::string TwoDigits(int value) {
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// "2026-12-09 07:12:03 +01:00".
std::string TimeText(const LocalClock::LocalTime& now) {
    const LocalClock::CivilTime& t = now.local;
    const int offset = now.utcOffsetMinutes < 0 ? -now.utcOffsetMinutes : now.utcOffsetMinutes;
    return std::to_string(t.year) + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day) + " " +
           TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second) + " " +
           (now.utcOffsetMinutes < 0 ? "-" : "+") + TwoDigits(offset / 60) + ":" +
           TwoDigits(offset % 60);
}

// The package's folder of programs for the machine's native architecture; empty when it holds
// none for it.
std::u16string ProgramsFolder(const std::u16string& home, const std::u16string& native) {
    if (EqualIgnoringAsciiCase(native, u"x86")) {
        return u"x86";
    }
    if (EqualIgnoringAsciiCase(native, u"AMD64")) {
        return u"x64";
    }
    if (EqualIgnoringAsciiCase(native, u"ARM64") &&
        DeployPlatform::KindOf(Join(home, u"arm64"), true) == PathKind::Folder) {
        return u"arm64";
    }
    return {};
}

// IsWow64Process2's answer where the system has it, else the environment: a 32-bit program on
// 64-bit Windows sees the system's architecture in PROCESSOR_ARCHITEW6432.
std::u16string NativeArchitecture() {
    std::u16string native = DeployPlatform::NativeArchitecture();
    if (native.empty()) {
        native = DeployPlatform::Environment(u"PROCESSOR_ARCHITEW6432");
    }
    if (native.empty()) {
        native = DeployPlatform::Environment(u"PROCESSOR_ARCHITECTURE");
    }
    return native;
}

// /log <file>, else the folder of the deployment tool that collects logs, else ours (made when
// needed). Empty when there is none (a host without a Windows folder).
std::u16string ChooseLog(const std::u16string& given) {
    if (!given.empty()) {
        return DeployPlatform::FullPath(given);
    }
    const std::u16string data = DeployPlatform::Environment(u"ProgramData");
    const std::u16string intune = Join(data, u"Microsoft\\IntuneManagementExtension\\Logs");
    if (!data.empty() && DeployPlatform::KindOf(intune, true) == PathKind::Folder) {
        return Join(intune, u"InstallerDeploy.log");
    }
    const std::u16string windows = DeployPlatform::WindowsFolder();
    if (windows.empty()) {
        return {};
    }
    const std::u16string ccm = Join(windows, u"CCM\\Logs");
    if (DeployPlatform::KindOf(ccm, true) == PathKind::Folder) {
        return Join(ccm, u"InstallerDeploy.log");
    }
    const std::u16string ours = Join(windows, u"Logs\\Installer");
    if (DeployPlatform::KindOf(ours, true) != PathKind::Folder) {
        DeployPlatform::MakeFolder(Join(windows, u"Logs"));
        DeployPlatform::MakeFolder(ours);
    }
    return Join(ours, u"InstallerDeploy.log");
}

bool Done(int code) {
    return code == kDeployDone || code == kDeployRestartNeeded;
}

// Whether both files read and hold the same bytes (INFs: InstallerRemove reads at most 64 MiB).
bool SameBytes(const std::u16string& a, const std::u16string& b) {
    constexpr uint64_t kMost = 64 * 1024 * 1024 + 1;
    std::string first;
    std::string second;
    return SafeFile::ReadPlainFile(a, 0, kMost, &first) &&
           SafeFile::ReadPlainFile(b, 0, kMost, &second) && first == second;
}

class Deployment {
  public:
    Deployment(const std::u16string& home, const std::u16string& folder,
               const DeployRequest& request)
        : home_(home), folder_(folder), programs_(Join(home, folder)), request_(request) {}

    int Run();
    int Install();
    int Uninstall();
    // Runs InstallerRemove.exe on `inf`; the code its result gives.
    int Remove(const std::u16string& inf);
    // `code` of a program that ran after something was changed: its 2 (wrong command line) no
    // longer means that nothing was run, so it is 1603, and the record says what happened.
    int AfterChange(int code, const char* why);
    // The code the last program's result gives, saying why when that is not its own.
    int Result(const std::u16string& program, StepCode step);
    DeployRecord& Record() { return record_; }

  private:
    std::u16string home_;
    std::u16string folder_;
    std::u16string programs_;
    DeployRequest request_;
    std::u16string inf_;
    std::u16string keep_;
    DeployRecord record_;
};

int Deployment::Run() {
    if (!request_.complete) {
        record_.Say(kUsage);
        record_.Say(kUsageExample);
        return kDeployWrongCommandLine;
    }
    inf_ = DeployPlatform::FullPath(request_.inf);
    // No wildcards: the INF is one file, never whatever a pattern matches.
    if (inf_.find_first_of(u"*?") != std::u16string::npos ||
        DeployPlatform::KindOf(inf_, true) != PathKind::File) {
        record_.Say("Deploy: no INF file at " + Quoted(inf_) + "; nothing was run.");
        return kDeployWrongCommandLine;
    }
    if (!request_.keep.empty()) {
        keep_ = WithoutTrailingSeparator(DeployPlatform::FullPath(request_.keep));
    }
    return request_.uninstall ? Uninstall() : Install();
}

int Deployment::Install() {
    const std::u16string infName = BaseName(inf_);
    // By identity, so that no other spelling of the folder gets its INF deleted.
    if (!keep_.empty() && FolderHoldsFile(keep_, inf_)) {
        record_.Say("Deploy: the INF is in the /keep folder " + Quoted(keep_) +
                    ", which Deploy empties and makes anew; give the INF from another folder. "
                    "Nothing was run.");
        return kDeployWrongCommandLine;
    }
    // The publisher named is trusted first, so that the pre-flight judges the package as the
    // install will find the machine; a publisher that cannot be trusted stops the run here.
    if (!request_.trustPublisher.empty() &&
        !TrustNamedPublisher(inf_, request_.trustPublisher, &record_)) {
        return kDeployNotDone;
    }
    const std::u16string checker = Join(programs_, u"InstallerCheck.exe");
    // The pre-flight changes nothing; a package that will not install here stops the run
    // before anything else does.
    if (request_.noCheck) {
        record_.Add("pre-flight: skipped (/nocheck)");
    } else {
        const StepCode plan = record_.Run(checker, {u"plan", request_.id, inf_}, false);
        if (!plan.started || plan.code != 0) {
            const int code = Result(checker, plan);
            if (plan.started && plan.code == 1) {
                record_.Say("Deploy: the pre-flight found that the package will not install "
                            "here; nothing was changed.");
            }
            return code == kDeployRestartNeeded ? kDeployNotDone : code;
        }
    }
    if (!keep_.empty()) {
        const KeepResult kept = PrepareKeep(keep_, checker, inf_);
        if (kept != KeepResult::Ready) {
            record_.Say(KeepRefusal(kept, keep_));
            return kept == KeepResult::HoldsInf ? kDeployWrongCommandLine : kDeployNotDone;
        }
    }
    // The program reads its trace settings beside itself: the package's file applies to it.
    const std::u16string settings = Join(home_, u"TqDbgCfg.ini");
    if (DeployPlatform::KindOf(settings, true) != PathKind::Missing &&
        !DeployPlatform::CopyFileTo(settings, Join(programs_, u"TqDbgCfg.ini"), false)) {
        record_.Say("Deploy: could not copy TqDbgCfg.ini into " + Quoted(programs_) +
                    "; the trace keeps its settings there.");
    }
    // Installer.exe exits with 0 whenever it runs; anything else means it did not.
    const std::u16string installer = Join(programs_, u"Installer.exe");
    const StepCode installed = record_.Run(installer, {request_.id, inf_}, true);
    const int32_t code = static_cast<int32_t>(installed.code);
    if (!installed.started || code > 0) {
        record_.Say("Deploy: " + Quoted(installer) + " did not run: code " +
                    std::to_string(installed.code) + "; 740 means it needs administrator rights.");
    } else if (code < 0) {
        record_.Say("Deploy: " + Quoted(installer) + " did not run: code " + std::to_string(code) +
                    ".");
    }
    const StepCode verified = record_.Run(checker, {u"verify", request_.id, inf_}, false);
    const int result = AfterChange(Result(checker, verified),
                                   "InstallerCheck.exe verify ended with 2 (wrong command line) "
                                   "after Installer.exe had run; the install is not verified.");
    if (!keep_.empty()) {
        KeepTraceLogs(programs_, keep_);
        DeployPlatform::WriteOutput(
            false, "Detection command: " + Quoted(Join(keep_, u"InstallerCheck.exe")) +
                       " verify --detect " + Quoted(request_.id) + " " +
                       Quoted(Join(keep_, infName)) + "\n");
    }
    return result;
}

int Deployment::Remove(const std::u16string& inf) {
    const std::u16string remover = Join(programs_, u"InstallerRemove.exe");
    std::vector<std::u16string> arguments;
    if (request_.force) {
        arguments.push_back(u"--force");
    }
    arguments.insert(arguments.end(), {request_.id, inf});
    return Result(remover, record_.Run(remover, arguments, false));
}

int Deployment::Uninstall() {
    int result = Remove(inf_);
    if (keep_.empty()) {
        return result;
    }
    // The INF the install kept is the version it installed. Given another INF of that name (a
    // newer version), the removal found another package: the kept version goes too.
    const std::u16string kept = Join(keep_, BaseName(inf_));
    if (Done(result) && DeployPlatform::KindOf(keep_, false) == PathKind::Folder &&
        DeployPlatform::KindOf(kept, false) == PathKind::File && !SameBytes(kept, inf_)) {
        record_.Add("Deploy: the /keep folder holds another version of " + Utf8(BaseName(inf_)) +
                    ", the one installed; it is removed as well.");
        const int more = AfterChange(Remove(kept), "InstallerRemove.exe ended with 2 (wrong "
                                                   "command line) for the kept INF after the "
                                                   "first removal; the removal is not done.");
        result = !Done(more) ? more : result == kDeployRestartNeeded ? result : more;
    }
    // A removal that is not done leaves the driver, so its detection files stay.
    if (!Done(result)) {
        record_.Say("Deploy: the removal is not done; " + Quoted(keep_) +
                    " keeps the detection command's files.");
        return result;
    }
    switch (ClearKeep(keep_, BaseName(inf_))) {
    case UnkeepResult::Link:
        record_.Say("Deploy: " + Quoted(keep_) +
                    " is a junction or symbolic link; nothing was deleted through it.");
        break;
    case UnkeepResult::Left:
        record_.Say("Deploy: " + Quoted(keep_) +
                    " holds files Deploy did not put there, or could not be deleted; it was left "
                    "in place.");
        break;
    default:
        break;
    }
    return result;
}

int Deployment::AfterChange(int code, const char* why) {
    if (code != kDeployWrongCommandLine) {
        return code;
    }
    record_.Say(std::string("Deploy: ") + why);
    return kDeployNotDone;
}

int Deployment::Result(const std::u16string& program, StepCode step) {
    bool known = false;
    const int code = DeployCodeFor(step, &known);
    if (!step.started) {
        record_.Say("Deploy: " + Quoted(program) + " did not start: error " +
                    std::to_string(step.code) + ".");
    } else if (!known) {
        record_.Say("Deploy: the last program ended with code " + std::to_string(step.code) + ".");
    }
    return code;
}

// The record goes to the log in one append; a log that cannot take it costs one line.
void WriteRecord(const std::u16string& log, const std::string& record) {
    if (log.empty()) {
        return;
    }
    const LogWrite written = AppendRecord(log, record);
    if (written.rollFailed) {
        DeployPlatform::WriteOutput(true, "Deploy: could not roll the deployment log " + Utf8(log) +
                                              " over to " + Utf8(RolledOverName(log)) + ".\n");
    }
    switch (written.result) {
    case SafeFile::FileResult::Done:
        return;
    case SafeFile::FileResult::WriteFailed:
        DeployPlatform::WriteOutput(true, "Deploy: could not write this deployment's record whole "
                                          "to the deployment log " +
                                              Utf8(log) +
                                              " (is the disk full?); none of it was left there.\n");
        return;
    default:
        DeployPlatform::WriteOutput(true, "Deploy: could not write the deployment log " +
                                              Utf8(log) +
                                              " (it is missing a folder, held open, or not a "
                                              "plain file); this deployment's record is not in "
                                              "it.\n");
    }
}

} // namespace

std::u16string PackageHome(const std::u16string& programPath) {
    std::u16string home = programPath;
    for (int i = 0; i < 2; ++i) {
        const size_t slash = home.find_last_of(u"\\/");
        home = slash == std::u16string::npos ? std::u16string() : home.substr(0, slash);
    }
    return home;
}

int RunDeploy(const std::u16string& home, const std::vector<std::u16string>& arguments) {
    const std::u16string native = NativeArchitecture();
    const std::u16string folder = ProgramsFolder(home, native);
    if (folder.empty()) {
        const bool arm64 = DeployPlatform::KindOf(Join(home, u"arm64"), true) == PathKind::Folder;
        DeployPlatform::WriteOutput(true, "Deploy: this Windows runs on \"" + Utf8(native) +
                                              "\"; the package holds programs for " +
                                              (arm64 ? "x86, x64 and ARM64" : "x86 and x64") +
                                              " Windows only, so nothing was run.\n");
        return kDeployUnsupported;
    }
    const std::u16string programs = Join(home, folder);
    for (const char16_t* program :
         {u"Installer.exe", u"InstallerCheck.exe", u"InstallerRemove.exe"}) {
        if (DeployPlatform::KindOf(Join(programs, program), true) != PathKind::File) {
            DeployPlatform::WriteOutput(true,
                                        "Deploy: the package is incomplete: " + Quoted(programs) +
                                            " lacks Installer.exe, InstallerCheck.exe or "
                                            "InstallerRemove.exe; nothing was run.\n");
            return kDeployNotDone;
        }
    }
    const DeployRequest request = ParseDeployArguments(arguments);
    const LocalClock::LocalTime started = LocalClock::LocalNow();
    Deployment deployment(home, folder, request);
    DeployRecord& record = deployment.Record();
    record.Add("==== " + TimeText(started) + " Deploy.cmd " +
               (request.uninstall ? "uninstall" : "install") + " on " +
               Utf8(DeployPlatform::ComputerName()) + " as " + Utf8(DeployPlatform::AccountName()) +
               "\ncommand line: " + Utf8(QuotedLine(arguments)) +
               "\narchitecture: " + Utf8(folder));
    const int code = deployment.Run();
    record.Add("result: " + std::to_string(code) + " (" + DeployResultMeaning(code) + ")");
    WriteRecord(ChooseLog(request.log), record.Text());
    return code;
}
