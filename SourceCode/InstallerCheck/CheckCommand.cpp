#include "CheckCommand.h"

#include "CheckReport.h"
#include "CommandLine.h"
#include "Json.h"
#include "PackageRequest.h"
#include "ReportFormat.h"

namespace {

constexpr char16_t kUsage[] =
    u"usage: InstallerCheck plan   [--json]          <hardware ID> <INF full path>\n"
    u"       InstallerCheck verify [--json|--detect] <hardware ID> <INF full path>\n"
    u"plan: what Installer would do on this machine now. verify: whether the machine is in the\n"
    u"state a successful run of Installer leaves. Reads only; changes nothing.\n"
    u"exit codes: 0 planned or verified, 1 not verified, or the package will not install here\n"
    u"(plan: each reason on standard error), 2 wrong command line, 3 the device state could\n"
    u"not be read, 4 verified but a device needs a restart. --detect: verified prints one\n"
    u"line, not verified prints nothing; both exit 0.\n";

enum class Form { Text, Json, Detect };

constexpr CommandSpec kCheck = {u"InstallerCheck", kUsage};

} // namespace

CheckResult RunCheck(const std::vector<std::u16string>& arguments) {
    if (IsHelpRequest(arguments)) {
        return {kExitOk, kUsage, {}};
    }
    if (arguments.empty()) {
        return UsageError(kCheck, u"no command");
    }
    CheckRequest request;
    if (arguments[0] == u"plan") {
        request.mode = CheckMode::Plan;
    } else if (arguments[0] == u"verify") {
        request.mode = CheckMode::Verify;
    } else {
        return UsageError(kCheck, u"unknown command " + JsonString(arguments[0]));
    }
    std::vector<std::u16string> options;
    std::vector<std::u16string> operands;
    std::u16string problem;
    const bool parsed =
        request.mode == CheckMode::Plan
            ? ParseOptions(arguments, 1, {{u"--json"}}, u"for plan", &options, &operands, &problem)
            : ParseOptions(arguments, 1, {{u"--json", 1}, {u"--detect", 1}}, u"for verify",
                           &options, &operands, &problem);
    if (!parsed) {
        return UsageError(kCheck, problem);
    }
    const Form form = HasOption(options, u"--json")     ? Form::Json
                      : HasOption(options, u"--detect") ? Form::Detect
                                                        : Form::Text;
    if (const int code = ReadRequestOperands(operands, &request, &problem); code != kExitOk) {
        return Refusal(kCheck, code, problem);
    }

    Report report;
    if (!BuildReport(request, &report, &problem)) {
        return Refusal(kCheck, kExitUnreadable, u"cannot read the device state: " + problem);
    }
    CheckResult result;
    if (request.mode == CheckMode::Plan && !report.package.reasons.empty()) {
        // Each reason on a line of its own on standard error, for a deployment to log.
        result.exitCode = kExitNotVerified;
        for (const std::u16string& reason : report.package.reasons) {
            result.err += u"InstallerCheck: " + reason + u"\n";
        }
    }
    if (request.mode == CheckMode::Verify) {
        result.exitCode = !report.verified         ? kExitNotVerified
                          : report.restartRequired ? kExitRestart
                                                   : kExitOk;
    }
    switch (form) {
    case Form::Text:
        result.out = ReportText(report);
        break;
    case Form::Json:
        result.out = ReportJson(report);
        break;
    case Form::Detect:
        // A detection rule reads "installed" from exit code 0 with output, "not installed"
        // from exit code 0 without; one that needs a restart counts as installed.
        result.exitCode = kExitOk;
        if (report.verified) {
            result.out = DetectLine(report);
        }
        break;
    }
    return result;
}
