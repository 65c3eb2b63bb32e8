#include "CheckCommand.h"

#include "CheckReport.h"
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

CheckResult Usage(const std::u16string& problem) {
    return {kExitUsage, {}, u"InstallerCheck: " + problem + u"\n" + kUsage};
}

CheckResult Fail(int code, const std::u16string& problem) {
    return {code, {}, u"InstallerCheck: " + problem + u"\n"};
}

} // namespace

CheckResult RunCheck(const std::vector<std::u16string>& arguments) {
    if (arguments.size() == 1 && (arguments[0] == u"--help" || arguments[0] == u"-h" ||
                                  arguments[0] == u"/?" || arguments[0] == u"help")) {
        return {kExitOk, kUsage, {}};
    }
    if (arguments.empty()) {
        return Usage(u"no command");
    }
    CheckRequest request;
    if (arguments[0] == u"plan") {
        request.mode = CheckMode::Plan;
    } else if (arguments[0] == u"verify") {
        request.mode = CheckMode::Verify;
    } else {
        return Usage(u"unknown command " + JsonString(arguments[0]));
    }
    Form form = Form::Text;
    size_t next = 1;
    for (; next < arguments.size() && arguments[next].starts_with(u"--"); ++next) {
        const std::u16string& option = arguments[next];
        if (option == u"--") {
            ++next;
            break;
        }
        const bool known =
            option == u"--json" || (option == u"--detect" && request.mode == CheckMode::Verify);
        if (!known) {
            return Usage(u"unknown option " + JsonString(option) + u" for " + arguments[0]);
        }
        if (form != Form::Text) {
            return Usage(u"--json and --detect exclude each other, and each is given once");
        }
        form = option == u"--json" ? Form::Json : Form::Detect;
    }
    if (arguments.size() - next != 2) {
        return Usage(u"expected a hardware ID and an INF full path");
    }
    std::u16string problem;
    switch (ReadPackageRequest(arguments[next], arguments[next + 1], &request, &problem)) {
    case InfRead::Ok:
        break;
    case InfRead::BadArgument:
        return Usage(problem);
    case InfRead::Unreadable:
        return Fail(kExitUnreadable, problem);
    }

    Report report;
    if (!BuildReport(request, &report, &problem)) {
        return Fail(kExitUnreadable, u"cannot read the device state: " + problem);
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
